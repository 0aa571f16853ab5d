# Velmora: `make test` sets the machine up, builds every tree and runs every test.
SHELL := /bin/bash
JOBS ?= 2
export JOBS
NATIVE_TREES := native native-asan
WINDOWS_TREES := win32 win64
TREES := $(NATIVE_TREES) $(WINDOWS_TREES) fuzz
# Velmora.exe's 64-bit stand-in, built where it takes the 32-bit program's place
# (scripts/standin says when: a machine that cannot run 32-bit code, or
# VELMORA_STAND_IN=1).
STANDIN := ./scripts/standin
# Seconds `make fuzz` gives each fuzz target.
FUZZ_SECONDS ?= 60

.PHONY: all setup build dist package test test-native test-fuzz test-windows test-win32 test-standin test-release \
	fuzz run bench clean \
	$(addprefix build-,$(TREES) standin)

all: build

setup:
	@./scripts/setup.sh

build: $(addprefix build-,$(TREES))

$(addprefix build-,$(TREES) standin): build-%: setup
	@[ -f build/$*/CMakeCache.txt ] || cmake --preset $* >/dev/null
	cmake --build build/$* -j$(JOBS)

test: test-native test-fuzz test-windows test-release

test-native: build-native build-native-asan
	ctest --test-dir build/native -j$(JOBS) --output-on-failure
	ctest --test-dir build/native-asan -j$(JOBS) --output-on-failure

# Each fuzz target over its committed corpus, every input once.
test-fuzz: build-fuzz
	ctest --test-dir build/fuzz -j$(JOBS) --output-on-failure

fuzz: build-fuzz
	./scripts/fuzz $(FUZZ_SECONDS)

# Windows programs run under Wine in each tree's own prefixes. The 32-bit tree
# is always built; where its programs cannot run, the stand-in's tree runs the
# same tests in their place.
test-windows: build-win32 build-win64
	./scripts/wine-ctest build/win64 win64
	@if $(STANDIN) "is tested in place of the 32-bit program"; then \
	    $(MAKE) --no-print-directory test-standin; else $(MAKE) --no-print-directory test-win32; fi

test-win32: build-win32 build-win64
	./scripts/wine-ctest build/win32 gui64

test-standin: build-standin build-win64
	./scripts/wine-ctest build/standin gui64

# The release programs as dist builds them, read from their PE headers.
test-release: dist
	python3 tests/release/check_release.py build/dist

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
# Windows line ends; and build/SHA256SUMS, which `sha256sum -c` reads beside the
# zip and the two programs unpacked from it (tried so before it is kept). One
# commit gives the same zip in any folder, on any machine: the programs carry no
# time or path of their build, and the files, in a fixed order, are dated at
# the commit's time (or SOURCE_DATE_EPOCH), in UTC.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 315532800)
package: dist
	rm -rf build/Velmora-*.zip build/SHA256SUMS build/package-check
	version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-win32/CMakeCache.txt) && \
	    zip=Velmora-$$version.zip && cd build/dist && \
	    touch -d @$(SOURCE_DATE_EPOCH) Velmora.exe Drisk.x64 ReadMe.txt && \
	    TZ=UTC zip -q -X -9 ../$$zip Velmora.exe Drisk.x64 && TZ=UTC zip -q -X -9 -l ../$$zip ReadMe.txt && \
	    cd .. && { sha256sum $$zip && (cd dist && sha256sum Velmora.exe Drisk.x64); } > SHA256SUMS.new && \
	    mkdir package-check && cp $$zip package-check/ && cp SHA256SUMS.new package-check/SHA256SUMS && \
	    (cd package-check && unzip -q $$zip && sha256sum --quiet -c SHA256SUMS) && \
	    rm -rf package-check && mv SHA256SUMS.new SHA256SUMS && unzip -l $$zip && cat SHA256SUMS

run: dist
	@if $(STANDIN) "runs in place of the 32-bit program"; then \
	    [ -f build/standin/CMakeCache.txt ] || cmake --preset standin >/dev/null; \
	    cmake --build build/standin -j$(JOBS) --target velmora; fi
	./scripts/run-demo.sh

# Timings and memory against the floor and Wine's own tools (not part of test):
# writes bench/results.md and bench/results.png.
bench: dist build-win32 build-win64
	@if $(STANDIN) --timing "is measured in place of the 32-bit program"; then \
	    $(MAKE) --no-print-directory build-standin; fi
	./bench/run.sh

clean:
	rm -rf build
