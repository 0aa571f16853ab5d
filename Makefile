# Velmora: `make test` sets the machine up, builds every tree and runs every test.
SHELL := /bin/bash
JOBS ?= 2
NATIVE_TREES := native native-asan
WINDOWS_TREES := win32 win64
TREES := $(NATIVE_TREES) $(WINDOWS_TREES)

.PHONY: all setup build test test-native test-windows run clean $(addprefix build-,$(TREES))

all: build

setup:
	@./scripts/setup.sh

build: $(addprefix build-,$(TREES))

$(addprefix build-,$(TREES)): build-%: setup
	@[ -f build/$*/CMakeCache.txt ] || cmake --preset $* >/dev/null
	cmake --build build/$* -j$(JOBS)

test: test-native test-windows

test-native: build-native build-native-asan
	ctest --test-dir build/native -j$(JOBS) --output-on-failure
	ctest --test-dir build/native-asan -j$(JOBS) --output-on-failure

# Windows programs run under Wine in each tree's own prefixes.
test-windows: build-win32 build-win64
	./scripts/wine-ctest build/win32 win64 win32
	./scripts/wine-ctest build/win64 win64

run: setup
	@echo "make run: the window arrives with the main window; until then there is nothing to show."
	@echo "Build and test what exists with: make test"

clean:
	rm -rf build
