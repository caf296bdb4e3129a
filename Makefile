# Two commands do everything on a fresh machine:
#   make run    build, then convert the bundled sample sheet with -v
#   make test   build and run every test, in a g++ build and in a clang
#               AddressSanitizer + UndefinedBehaviorSanitizer build
BUILD      ?= build
SAN_BUILD  ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR  := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
CMAKE_ARGS ?= -DSHEETCUT_WERROR=ON

SAMPLE      := examples/terminus-8x16.bmp
SAMPLE_FONT := out/terminus-8x16.fnt

.PHONY: all build run test test-plain test-sanitize fuzz bench install package clean

all: build

# The programs alone: no GoogleTest needed.
build:
	cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

run: build
	mkdir -p out
	$(BUILD)/sheetcut -v -s8,16 -c20,7e -o0,5e -nTER $(SAMPLE) $(SAMPLE_FONT)
	@echo "wrote $(SAMPLE_FONT)"

test: test-plain test-sanitize

test-plain:
	cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	CXX=clang++ cmake -S . -B $(SAN_BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_SANITIZE=ON -DSHEETCUT_TESTS=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Both programs and their manual pages under PREFIX.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package in $(BUILD).
package: build
	cd $(BUILD) && cpack -G DEB

# Every fuzz target for FUZZ_SECONDS each, under ASan and UBSan.
fuzz:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_FUZZ=ON -DSHEETCUT_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Timings against `cat` of the same sheet; bench/run_bench.py --help for more.
bench: build
	python3 bench/run_bench.py --sheetcut $(BUILD)/sheetcut

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) out
