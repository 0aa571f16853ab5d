# Velmora: `make test` sets the machine up, builds every tree and runs every test.
SHELL := /bin/bash
JOBS ?= 2
NATIVE_TREES := native native-asan
WINDOWS_TREES := win32 win64
TREES := $(NATIVE_TREES) $(WINDOWS_TREES) fuzz
# Seconds `make fuzz` gives each fuzz target.
FUZZ_SECONDS ?= 60

.PHONY: all setup build dist test test-native test-fuzz test-windows fuzz run bench clean $(addprefix build-,$(TREES))

all: build

setup:
	@./scripts/setup.sh

build: $(addprefix build-,$(TREES))

$(addprefix build-,$(TREES)): build-%: setup
	@[ -f build/$*/CMakeCache.txt ] || cmake --preset $* >/dev/null
	cmake --build build/$* -j$(JOBS)

test: test-native test-fuzz test-windows

test-native: build-native build-native-asan
	ctest --test-dir build/native -j$(JOBS) --output-on-failure
	ctest --test-dir build/native-asan -j$(JOBS) --output-on-failure

# Each fuzz target over its committed corpus, every input once.
test-fuzz: build-fuzz
	ctest --test-dir build/fuzz -j$(JOBS) --output-on-failure

fuzz: build-fuzz
	./scripts/fuzz $(FUZZ_SECONDS)

# Windows programs run under Wine in each tree's own prefixes.
test-windows: build-win32 build-win64
	./scripts/wine-ctest build/win32 gui64
	./scripts/wine-ctest build/win64 win64

# What a user gets: Velmora.exe with Drisk.x64 beside it.
dist: build-win32 build-win64
	rm -rf build/dist
	cmake --install build/win32 --prefix build/dist >/dev/null
	cmake --install build/win64 --prefix build/dist >/dev/null
	@ls build/dist

run: dist
	./scripts/run-demo.sh

# Timings and memory against the floor and Wine's own tools (not part of test):
# writes bench/results.md and bench/results.png.
bench: dist
	./bench/run.sh

clean:
	rm -rf build
