# Thin wrapper over the CMake presets. Every target installs what is missing,
# configures and builds by itself.
JOBS ?= 2

.PHONY: package package-armhf soak bench demo page test test-asan test-armhf build deps deps-armhf clean

# The monitor against its built-in simulator, paced at 9600 baud, for a few cycles.
demo: build
	./build/default/tools/monitor/trm27k-monitor --cycles 3 --plugin-stdout /dev/null

# The monitor against its built-in simulator with the status page on loopback,
# until Ctrl-C; the history (for trends) in build/page.db.
PAGE_PORT ?= 8127
page: build
	@echo "status page: http://127.0.0.1:$(PAGE_PORT)/ (Ctrl-C stops the monitor)"
	./build/default/tools/monitor/trm27k-monitor --quiet --plugin-stdout /dev/null \
	  --http 127.0.0.1:$(PAGE_PORT) --history build/page.db

test: build
	ctest --preset default

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-armhf: deps-armhf
	cmake --preset armhf >/dev/null
	cmake --build --preset armhf -j $(JOBS)
	ctest --preset armhf

# Benchmarks, instructions per cycle and the end-to-end line ratio (docs/performance.md).
bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS) --target trm27k-bench trm27k-cycles trm27k-monitor trm27k-sim
	bash bench/run_all.sh build/bench

deps:
	bash scripts/install-deps.sh

deps-armhf:
	bash scripts/install-deps.sh --armhf

clean:
	rm -rf build

# The monitor against the simulator with fault injection (CYCLES=500 by default).
CYCLES ?= 500
soak: build
	bash scripts/soak.sh $(CYCLES)

# Debian packages for amd64, checked with lintian and run from a scratch root.
package:
	bash scripts/package-check.sh

# The same for armhf, packed from the cross build of test-armhf and run under qemu-arm.
package-armhf:
	bash scripts/package-check.sh --armhf
