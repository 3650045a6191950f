# Set-up and everyday commands; CMake does the building.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
# Most integration and window tests wait on stand-ins and time limits rather
# than compute, so one more test than cores runs at once.
TEST_JOBS  ?= $(shell echo $$(( $$(nproc) + 1 )))

.PHONY: all deps build test test-unit test-asan test-fuzz demo run-ui install package clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

# Every test, through CTest: the main build (unit, integration, UI), the
# sanitizer build of the library and its unit tests, and a short fuzzing run.
test: build test-asan test-fuzz
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DVARNU_SANITIZE=ON -DVARNU_SHELL=OFF -DVARNU_TOOLS=OFF -DVARNU_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L unit

test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVARNU_FUZZ=ON -DVARNU_SHELL=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure -j $(JOBS) -L fuzz

demo: build
	scripts/demo $(BUILD)

run-ui: build
	scripts/run-ui $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),$(CURDIR)/install)

# The Debian package $(BUILD)/varnkit_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) demo-out
