# Front door: `make` installs what is missing and builds, `make demo` runs the demo under
# Wine, `make test` runs every test. The configurations are CMakePresets.json's.
SHELL := /bin/bash
JOBS ?= 2

.PHONY: all deps native sanitized win32 fuzz fuzz-build prefix demo test bench dist clean

all: deps native sanitized win32 prefix

deps:
	@./scripts/install-deps.sh

# configure once per build folder, then build: make <preset>
define preset
	@[ -f build/$(2)/CMakeCache.txt ] || cmake --preset $(1) >/dev/null
	@cmake --build --preset $(1) -j$(JOBS)
endef

native: deps
	$(call preset,native,native)

sanitized: deps
	$(call preset,sanitized,sanitized)

# The Windows programs; where this machine cannot run 32-bit x86 code, also their 64-bit twins,
# which the Wine tests then run (scripts/wine-env.sh).
win32: deps
	$(call preset,mingw,win32)
	@if [ "$$(scripts/win-bits.sh)" = 64 ]; then \
	  [ -f build/win64/CMakeCache.txt ] || cmake --preset mingw64 >/dev/null; \
	  cmake --build --preset mingw64 -j$(JOBS); fi

fuzz-build: deps
	$(call preset,fuzz,fuzz)

# The long campaign: FUZZ_RUNS executions of every target (10 million by default).
fuzz: fuzz-build
	@./scripts/fuzz-campaign.sh

prefix: deps
	@./scripts/wine-prefix.sh

demo: all
	@./scripts/demo.sh

test: all fuzz-build
	@./scripts/run-tests.sh

# BENCH_QUICK=1 make bench: fewer rounds, no 1 GiB payload (see bench/run.py).
bench: deps native win32
	@for b in build/native/bench_*; do echo "== $$b"; $$b; done
	@python3 bench/run.py
	@python3 bench/patch_bench.py

# The Windows release package: build/dist/kovela-updater-<VERSION>-windows.zip.
dist: deps native win32
	@./tools/dist/make-dist.sh

clean:
	rm -rf build
