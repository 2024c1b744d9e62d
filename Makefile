# Thin wrapper over the CMake presets. Every target sets the machine up first.
.PHONY: setup build release test test-dev test-asan test-tsan demo bench format clean

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

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
