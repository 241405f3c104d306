# Quick start: `make demo` runs the main demo, `make test` runs the whole suite.
# Both install what is missing first (Debian packages, see scripts/setup).

.PHONY: setup demo test bench clean

setup:
	@scripts/setup

demo: setup
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $$(nproc) --target echo_component qb-ws-client
	@scripts/run-demo build

test: setup
	@scripts/run-tests

bench: setup
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_BENCH=ON -DQB_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $$(nproc)
	@bench/run build-bench

clean:
	rm -rf build build-asan build-fuzz build-bench
