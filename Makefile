# Thin wrapper over the CMake presets. Every target sets the machine up first.
.PHONY: setup build release test test-dev test-e2e screenshots test-asan demo install uninstall bench fuzz soak format clean

setup:
	@bash scripts/bootstrap

build: setup
	cmake --preset dev >/dev/null
	cmake --build --preset dev

release: setup
	cmake --preset release >/dev/null
	cmake --build --preset release

test: build test-dev test-e2e test-asan

test-dev: build
	ctest --preset dev

# The real program under real tray hosts on a throw-away X server (the dev
# test preset leaves these out).
test-e2e: build
	ctest --test-dir build/dev -L e2e --output-on-failure

# Runs the end-to-end tests and copies the pictures they take into docs/.
screenshots: build
	bash scripts/screenshots

test-asan: setup
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

demo: build
	bash examples/demo/run

# An optimised build of the two programs, installed with the desktop entry
# and icons under PREFIX (DESTDIR is honoured for staging). The file list
# lands in build/release/install_manifest.txt, which `make uninstall` reads
# (with the same DESTDIR, since the list leaves it out).
PREFIX ?= /usr/local
install: setup
	cmake --preset release >/dev/null
	cmake --build --preset release --target korvan-controller korvanctl
	cmake --install build/release --prefix "$(PREFIX)"
	@if [ -z "$(DESTDIR)" ] && command -v update-desktop-database >/dev/null; then \
		update-desktop-database -q "$(PREFIX)/share/applications" || true; fi

uninstall:
	@test -f build/release/install_manifest.txt || \
		{ echo "uninstall: no build/release/install_manifest.txt; see README.md" >&2; exit 1; }
	sed 's|^|$(DESTDIR)|' build/release/install_manifest.txt | xargs -d '\n' rm -fv
	@if [ -z "$(DESTDIR)" ] && command -v update-desktop-database >/dev/null; then \
		update-desktop-database -q "$(PREFIX)/share/applications" || true; fi

bench: release
	bash bench/run

# Each fuzz target for FUZZ_SECONDS (default 30).
FUZZ_SECONDS ?= 30
fuzz: setup
	bash scripts/fuzz $(FUZZ_SECONDS)

# The runner tests' soak (every case at once, round after round) at full length.
SOAK_RUNS ?= 20000
soak: build
	KORVAN_SOAK_RUNS=$(SOAK_RUNS) QTEST_FUNCTION_TIMEOUT=7200000 \
		build/dev/tests/service/tst_servicemanager everyCaseAtOnce

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
