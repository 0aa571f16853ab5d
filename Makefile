# Velmora: `make test` sets the machine up, builds every tree and runs every test.
SHELL := /bin/bash
JOBS ?= 2
NATIVE_TREES := native native-asan
WINDOWS_TREES := win32 win64
TREES := $(NATIVE_TREES) $(WINDOWS_TREES) fuzz
# Seconds `make fuzz` gives each fuzz target.
FUZZ_SECONDS ?= 60

.PHONY: all setup build dist package test test-native test-fuzz test-windows fuzz run bench clean $(addprefix build-,$(TREES))

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

# What a user gets: Velmora.exe with Drisk.x64 beside it and the read-me, built
# by the README's recipe (release build, no tests, no GoogleTest) with the cross
# toolchains, in build/release-win32 and build/release-win64.
RELEASE_CONFIGURE := -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
dist: setup
	cmake -S . -B build/release-win32 $(RELEASE_CONFIGURE) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
	cmake --build build/release-win32 -j$(JOBS)
	cmake -S . -B build/release-win64 $(RELEASE_CONFIGURE) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null
	cmake --build build/release-win64 -j$(JOBS)
	rm -rf build/dist
	cmake --install build/release-win32 --prefix build/dist >/dev/null
	cmake --install build/release-win64 --prefix build/dist >/dev/null
	@ls -l build/dist

# build/Velmora-<version>.zip: the three files of build/dist, the read-me with
# Windows line ends.
package: dist
	rm -f build/Velmora-*.zip
	version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-win32/CMakeCache.txt) && \
	    cd build/dist && zip -q -X -9 ../Velmora-$$version.zip Velmora.exe Drisk.x64 && \
	    zip -q -X -9 -l ../Velmora-$$version.zip ReadMe.txt && unzip -l ../Velmora-$$version.zip

run: dist
	./scripts/run-demo.sh

# Timings and memory against the floor and Wine's own tools (not part of test):
# writes bench/results.md and bench/results.png.
bench: dist build-win32
	./bench/run.sh

clean:
	rm -rf build
