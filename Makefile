# Velmora: `make test` sets the machine up, builds every tree and runs every test.
SHELL := /bin/bash
JOBS ?= 2
NATIVE_TREES := native native-asan
WINDOWS_TREES := win32 win64
TREES := $(NATIVE_TREES) $(WINDOWS_TREES)

.PHONY: all setup build dist test test-native test-windows run clean $(addprefix build-,$(TREES))

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
	./scripts/wine-ctest build/win32 win64 win32 gui64
	./scripts/wine-ctest build/win64 win64

# What a user gets: Velmora.exe with Drisk.x64 beside it.
dist: build-win32 build-win64
	rm -rf build/dist
	cmake --install build/win32 --prefix build/dist >/dev/null
	cmake --install build/win64 --prefix build/dist >/dev/null
	@ls build/dist

run: dist
	./scripts/run-demo.sh

clean:
	rm -rf build
