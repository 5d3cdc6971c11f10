# Kestrun's entry points. Every target installs what is missing first (scripts/install-deps).
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME  ?= 20
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan run bench fuzz clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUN_SANITIZE=ON \
	  -DKESTRUN_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

run: build
	scripts/run $(BUILD)

# Every benchmark program, briefly.
bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.05 || exit 1; done

# Every libFuzzer target in fuzz/, built with clang apart from the main build and run for
# FUZZ_TIME seconds each; new inputs it finds stay in the build directory's corpus.
fuzz:
	scripts/install-deps clang libclang-rt-14-dev
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for t in $(FUZZ_BUILD)/*_fuzz; do name=$$(basename $$t); echo "== $$name"; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$name; \
	  $$t -max_total_time=$(FUZZ_TIME) -timeout=10 -print_final_stats=1 \
	    $(FUZZ_BUILD)/corpus/$$name fuzz/corpus/$$name || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
