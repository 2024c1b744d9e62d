# Thin wrapper over the CMake presets. Every target sets the machine up first.
.PHONY: setup build release test test-dev test-asan test-tsan demo bench fuzz soak format clean

setup:
	@bash scripts/bootstrap

build: setup
	cmake --preset dev >/dev/null
	cmake --build --preset dev

release: setup
	cmake --preset release >/dev/null
	cmake --build --preset release

test: build test-dev test-asan test-tsan

test-dev: build
	ctest --preset dev
	ctest --test-dir build/dev -L soak --output-on-failure

test-asan: setup
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

test-tsan: setup
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	ctest --preset tsan

demo: build
	bash examples/demo/run

bench: release
	bash bench/run

# Each fuzz target for FUZZ_SECONDS (default 30).
FUZZ_SECONDS ?= 30
fuzz: setup
	bash scripts/fuzz $(FUZZ_SECONDS)

# The soak test at full length.
SOAK_RUNS ?= 20000
soak: build
	KORVAN_SOAK_RUNS=$(SOAK_RUNS) ctest --test-dir build/dev -L soak --output-on-failure

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
