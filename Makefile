# Builds and tests the Torvane setup. Every target installs what is missing first (Debian 12, root).
SHELL := /bin/bash
.DEFAULT_GOAL := dist

ROOT      := $(CURDIR)
HOST      := $(ROOT)/build/host
WIN       := $(ROOT)/build/windows
DIST      := $(ROOT)/dist
PACK      := $(HOST)/tools/pack
LABEL     := v1.0.0
JOBS      := $(shell nproc)
WINE_ROOT := $(ROOT)/build/wine-demo

.PHONY: deps host windows dist demo test test-host test-windows fuzz bench clean

deps:
	@tools/install-deps.sh

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

windows: deps host
	cmake --preset windows -DPACK_EXE=$(PACK) >/dev/null
	cmake --build --preset windows -j $(JOBS)

dist: host windows
	mkdir -p $(DIST)
	cp $(WIN)/app/setup.exe $(WIN)/payload/sfx.exe $(PACK) $(DIST)/
	$(PACK) archive --stub $(DIST)/sfx.exe --from $(WIN)/demo/suite --out $(ROOT)/build/TorvanePayload.exe
	$(PACK) image --program $(DIST)/setup.exe --payload $(ROOT)/build/TorvanePayload.exe \
	    --label $(LABEL) --out $(DIST)/TorvaneSetup.exe
	@ls -l $(DIST)

# The main job: the demo installer in a window, or, with no display, driven under Xvfb.
demo: dist
	tests/e2e/run-demo.sh $(DIST)/TorvaneSetup.exe $(WIN)/tests/e2e/demo-driver.exe $(ROOT)/build

test: dist test-host test-windows

test-host: host
	ctest --preset host -j $(JOBS)
	cmake --preset host-asan >/dev/null
	cmake --build --preset host-asan -j $(JOBS)
	ctest --preset host-asan -j $(JOBS)

test-windows:
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset windows; rc=$$?; \
	  WINEPREFIX=$(WIN)/wine/prefix wineserver -k 2>/dev/null; exit $$rc

# libFuzzer targets (clang, ASan, UBSan) for the image trailer reader and the ZIP reader, each run
# for FUZZ_SECONDS seconds from the seed corpus in tests/fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@tools/install-deps.sh clang libclang-rt-14-dev cmake make zlib1g-dev
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run-fuzzers.sh

# Benchmarks: payload copy, extraction, end to end, memory, sizes. Prints one table each (also in
# build/bench/bench.log); timings never fail the build. Under Xvfb, in a Wine prefix of its own.
bench: dist
	mkdir -p $(ROOT)/build/bench
	set -o pipefail; xvfb-run -a -s "-screen 0 1280x1024x24" bench/run-bench.sh $(DIST) $(WIN) \
	    $(HOST) $(ROOT)/build/bench $(ROOT)/build/wine-bench 2>&1 | tee $(ROOT)/build/bench/bench.log

clean:
	rm -rf build dist
