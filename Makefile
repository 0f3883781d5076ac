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
# Wine runs the 32-bit build where the kernel runs 32-bit code; elsewhere the tests and the demo
# run the 64-bit build of the same code (tests/can-run-32bit).
WIN_TEST  := $(shell tests/can-run-32bit && echo windows || echo windows-x64)
TEST_TREE := $(ROOT)/build/$(WIN_TEST)

FALLBACK_NOTE := $(ROOT)/build/deps-fallback-x64

.PHONY: deps host windows windows-x64 dist demo demo-run test test-all test-host test-windows \
        fuzz bench clean

deps:
	@tools/install-deps.sh

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

windows: deps host
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

windows-x64: deps host
	cmake --preset windows-x64 >/dev/null
	cmake --build --preset windows-x64 -j $(JOBS)

dist: host windows
	mkdir -p $(DIST)
	cp $(WIN)/app/setup.exe $(WIN)/payload/sfx.exe $(WIN)/tools/pack.exe $(PACK) $(DIST)/
	$(PACK) archive --stub $(DIST)/sfx.exe --from $(WIN)/demo/suite --out $(ROOT)/build/TorvanePayload.exe
	$(PACK) image --program $(DIST)/setup.exe --payload $(ROOT)/build/TorvanePayload.exe \
	    --label $(LABEL) --out $(DIST)/TorvaneSetup.exe
	@ls -l $(DIST)

# demo and test install what is missing first, then decide which Windows build Wine runs (a fresh
# machine has no Wine before that); a fall-back of install-deps repeats its note as the last line.
demo: deps
	@$(MAKE) --no-print-directory demo-run
	@cat $(FALLBACK_NOTE) 2>/dev/null || true

test: deps
	@$(MAKE) --no-print-directory test-all
	@cat $(FALLBACK_NOTE) 2>/dev/null || true

# The main job: the demo installer in a window, or, with no display, driven under Xvfb.
demo-run: dist $(WIN_TEST)
	@if [ $(WIN_TEST) = windows ]; then image=$(DIST)/TorvaneSetup.exe; else \
	  echo "demo: this kernel runs no 32-bit code; running the 64-bit build of the demo image"; \
	  $(PACK) archive --stub $(TEST_TREE)/payload/sfx.exe --from $(TEST_TREE)/demo/suite \
	    --out $(ROOT)/build/TorvanePayload-x64.exe && \
	  $(PACK) image --program $(TEST_TREE)/app/setup.exe \
	    --payload $(ROOT)/build/TorvanePayload-x64.exe --label $(LABEL) \
	    --out $(ROOT)/build/TorvaneSetup-x64.exe >/dev/null; image=$(ROOT)/build/TorvaneSetup-x64.exe; fi; \
	tests/e2e/run-demo.sh $$image $(TEST_TREE)/tests/e2e/demo-driver.exe $(ROOT)/build

test-all: dist test-host test-windows

test-host: host
	ctest --preset host -j $(JOBS)
	cmake --preset host-asan >/dev/null
	cmake --build --preset host-asan -j $(JOBS)
	ctest --preset host-asan -j $(JOBS)

test-windows: dist $(WIN_TEST)
	tests/windows/check-imports.sh pei-i386 $(DIST)/setup.exe $(DIST)/sfx.exe
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset $(WIN_TEST); rc=$$?; \
	  WINEPREFIX=$(TEST_TREE)/wine/prefix wineserver -k 2>/dev/null; exit $$rc

# libFuzzer targets (clang, ASan, UBSan) for the image trailer reader and the ZIP reader, each run
# for FUZZ_SECONDS seconds from the seed corpus in tests/fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@tools/install-deps.sh clang libclang-rt-14-dev cmake make zlib1g-dev liblzma-dev
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run-fuzzers.sh

# Benchmarks: payload copy, extraction, end to end, memory, sizes. Prints one table each (also in
# build/bench/bench.log); timings never fail the build. Under Xvfb, in a Wine prefix of its own.
# Where the kernel runs no 32-bit code, it times the 64-bit build of the same programs instead.
BENCH_DIST := $(if $(filter windows,$(WIN_TEST)),$(DIST),$(ROOT)/build/bench/dist-x64)
bench: dist $(WIN_TEST)
	mkdir -p $(ROOT)/build/bench
	@if [ $(WIN_TEST) != windows ]; then \
	  echo "bench: this kernel runs no 32-bit code; timing the 64-bit build"; \
	  mkdir -p $(BENCH_DIST) && \
	  cp $(TEST_TREE)/app/setup.exe $(TEST_TREE)/payload/sfx.exe $(PACK) $(BENCH_DIST)/ && \
	  $(PACK) archive --stub $(BENCH_DIST)/sfx.exe --from $(TEST_TREE)/demo/suite \
	    --out $(BENCH_DIST)/payload.exe && \
	  $(PACK) image --program $(BENCH_DIST)/setup.exe --payload $(BENCH_DIST)/payload.exe \
	    --label $(LABEL) --out $(BENCH_DIST)/TorvaneSetup.exe >/dev/null; fi
	set -o pipefail; xvfb-run -a -s "-screen 0 1280x1024x24" bench/run-bench.sh $(BENCH_DIST) \
	    $(TEST_TREE) $(HOST) $(ROOT)/build/bench $(ROOT)/build/wine-bench 2>&1 | \
	    tee $(ROOT)/build/bench/bench.log

clean:
	rm -rf build dist
