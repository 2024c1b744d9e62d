# Thin wrapper over the CMake presets. Every target sets the machine up first.
.PHONY: setup build release test test-dev test-e2e test-package test-rules screenshots test-asan demo install uninstall package bench fuzz soak format format-check lint clean

setup:
	@bash scripts/bootstrap

build: setup
	cmake --preset dev >/dev/null
	cmake --build --preset dev

release: setup
	cmake --preset release >/dev/null
	cmake --build --preset release

test: build test-dev test-e2e test-package test-rules test-asan

test-dev: build
	ctest --preset dev

# The real program under a real StatusNotifierItem host on a throw-away X
# server (the dev test preset leaves these out).
test-e2e: build
	ctest --test-dir build/dev -L e2e --output-on-failure

# Builds the Debian package and checks it with lintian, the desktop-entry
# and AppStream validators and the unpacked programs (label package).
test-package: build
	ctest --test-dir build/dev -L package --output-on-failure

# The shipped alert rules under promtool, which the first run unpacks from
# Debian's prometheus package into the build folder (label rules).
test-rules: build
	ctest --test-dir build/dev -L rules --output-on-failure

# Takes the README's pictures (docs/screenshots/); not a test.
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
	cmake --build --preset release --target korvan-controller korvanctl korvan_docs
	cmake --install build/release --prefix "$(PREFIX)"
	@if [ -z "$(DESTDIR)" ] && command -v update-desktop-database >/dev/null; then \
		update-desktop-database -q "$(PREFIX)/share/applications" || true; fi

uninstall:
	@test -f build/release/install_manifest.txt || \
		{ echo "uninstall: no build/release/install_manifest.txt; see README.md" >&2; exit 1; }
	sed 's|^|$(DESTDIR)|' build/release/install_manifest.txt | xargs -d '\n' rm -fv
	@if [ -z "$(DESTDIR)" ] && command -v update-desktop-database >/dev/null; then \
		update-desktop-database -q "$(PREFIX)/share/applications" || true; fi

# build/korvan-controller_<version>_<arch>.deb, from the release preset.
package: setup
	bash scripts/package

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

# Fails when `make format` would change a tracked C++ file.
format-check: setup
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

# clang-tidy (.clang-tidy) over src/ with the dev preset's compile commands;
# the configure step alone writes them, no build is needed. Any finding fails.
lint: setup
	cmake --preset dev >/dev/null
	bash scripts/lint

clean:
	rm -rf build
