# Quick start: `make demo` runs the main demo, `make test` runs the whole suite.
# Both install what is missing first (Debian packages, see scripts/setup).

.PHONY: setup demo test bench package docs clean

# Everything (tests and benchmarks); the targets below install only what they need.
setup:
	@scripts/setup bench

# The demo needs only the build tools and libraries, not the test peers.
demo:
	@scripts/setup build
	@mkdir -p build
	@printf 'build the echo component and qb-ws-client (log: build/build.log) ... '
	@if cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_TESTS=OFF >build/build.log 2>&1 && \
	    cmake --build build -j $$(nproc) --target echo_component qb-ws-client >>build/build.log 2>&1; then \
	  echo ok; else echo FAILED; tail -n 40 build/build.log; exit 1; fi
	@scripts/run-demo build

test:
	@scripts/setup test
	@scripts/run-tests

bench:
	@scripts/setup bench
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_BENCH=ON -DQB_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $$(nproc)
	@bench/run build-bench

# Debian packages in build-package/: libquorbitN, libquorbit-dev, quorbit-tools.
package:
	@scripts/setup package
	@cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_TESTS=OFF -DQB_BUILD_EXAMPLES=OFF >/dev/null
	@cmake --build build-package -j $$(nproc) --target all man_pages
	@cd build-package && cpack -G DEB
	@ls build-package/*.deb

# API reference in build-docs/docs/html/index.html.
docs:
	@scripts/setup docs
	@cmake -S . -B build-docs -G Ninja -DQB_BUILD_TESTS=OFF -DQB_BUILD_EXAMPLES=OFF >/dev/null
	@cmake --build build-docs -j $$(nproc) --target docs
	@echo "API reference: build-docs/docs/html/index.html"

clean:
	rm -rf build build-asan build-slim build-fuzz build-bench build-package build-docs
