# Quick start: `make demo` runs the main demo, `make test` runs the whole suite.
# Both install what is missing first (Debian packages, see scripts/setup).

.PHONY: setup demo test bench package docs clean

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

# Debian packages in build-package/: libquorbitN, libquorbit-dev, quorbit-tools.
package: setup
	@cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_TESTS=OFF -DQB_BUILD_EXAMPLES=OFF >/dev/null
	@cmake --build build-package -j $$(nproc) --target all man_pages
	@cd build-package && cpack -G DEB
	@ls build-package/*.deb

# API reference in build-docs/docs/html/index.html.
docs: setup
	@cmake -S . -B build-docs -G Ninja -DQB_BUILD_TESTS=OFF -DQB_BUILD_EXAMPLES=OFF >/dev/null
	@cmake --build build-docs -j $$(nproc) --target docs
	@echo "API reference: build-docs/docs/html/index.html"

clean:
	rm -rf build build-asan build-slim build-fuzz build-bench build-package build-docs
