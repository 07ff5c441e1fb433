# Front door: `make` installs what is missing and builds, `make demo` runs the demo under
# Wine, `make test` runs every test.
SHELL := /bin/bash
JOBS ?= 2
NATIVE := build/native
WIN32 := build/win32
FUZZ := build/fuzz
PREFIX := $(CURDIR)/build/wineprefix

.PHONY: all deps native win32 fuzz fuzz-build prefix demo test test-native test-fuzz test-wine bench clean

all: deps native win32 prefix

deps:
	@./scripts/install-deps.sh

native: deps
	@[ -f $(NATIVE)/CMakeCache.txt ] || cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS) --target mkupdater unit_tests

win32: deps
	@[ -f $(WIN32)/CMakeCache.txt ] || cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	@cmake --build $(WIN32) -j$(JOBS)

fuzz-build: deps
	@[ -f $(FUZZ)/CMakeCache.txt ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DKOVELA_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS)

# The long campaign: FUZZ_RUNS executions of every target (10 million by default).
fuzz: fuzz-build
	@./scripts/fuzz-campaign.sh

prefix: deps
	@./scripts/wine-prefix.sh $(PREFIX)

demo: all
	@./scripts/demo.sh

test: all fuzz-build
	@./scripts/run-tests.sh

# BENCH_QUICK=1 make bench: fewer rounds, no 1 GiB payload (see bench/run.py).
bench: deps win32
	@[ -f $(NATIVE)/CMakeCache.txt ] || cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)
	@for b in $(NATIVE)/bench_*; do echo "== $$b"; $$b; done
	@/usr/bin/python3 bench/run.py

clean:
	rm -rf build
