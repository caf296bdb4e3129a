# Two commands do everything on a fresh machine:
#   make run    build, then convert the bundled sample sheet with -v, and
#               its PNG through sheetprep
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
SAMPLE_PNG  := examples/terminus-8x16.png
SAMPLE_FONT := out/terminus-8x16.fnt

.PHONY: all build run test test-plain test-sanitize fuzz bench install package clean

all: build

# The programs alone: no GoogleTest needed. A new build tree is set up
# without the tests; one that `make test` set up keeps them, unbuilt here.
PROGRAMS := sheetcut fontdump sheetprep
build:
	cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DSHEETCUT_TESTS=OFF)
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)

# The sample sheet, then the same drawing from a PNG through sheetprep,
# which must give the same font.
run: build
	mkdir -p out
	$(BUILD)/sheetcut -v -s8,16 -c20,7e -o0,5e -nTER $(SAMPLE) $(SAMPLE_FONT)
	@echo "wrote $(SAMPLE_FONT)"
	$(BUILD)/sheetprep -v -s8,16 $(SAMPLE_PNG) out/from-png.bmp
	$(BUILD)/sheetcut -s8,16 -c20,7e -o0,5e -nTER out/from-png.bmp out/from-png.fnt
	cmp $(SAMPLE_FONT) out/from-png.fnt && echo "the PNG gives the same font"

test: test-plain test-sanitize

test-plain:
	cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	CXX=clang++ cmake -S . -B $(SAN_BUILD) $(GENERATOR) $(CMAKE_ARGS) -DSHEETCUT_SANITIZE=ON -DSHEETCUT_TESTS=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The programs and their manual pages under PREFIX.
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

# Timings against `cat` of the same sheet, and sheetprep against libspng's
# decode alone; bench/run_bench.py --help for more.
bench: build
	cmake --build $(BUILD) --target png_decode
	python3 bench/run_bench.py --sheetcut $(BUILD)/sheetcut --sheetprep $(BUILD)/sheetprep --png-decode $(BUILD)/png_decode

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) out
