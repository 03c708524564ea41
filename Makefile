# Front door for newcomers: `make demo` and `make test` wrap CMake.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
# Seconds each fuzz target runs under `make fuzz`, and how many run at once.
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 1
JOBS ?= 2
export ASAN_OPTIONS ?= detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all build test test-plain test-sanitize test-fuzz-replay fuzz fuzz-build valgrind \
	demo install clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DPK_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every test, then every test again under AddressSanitizer and
# UndefinedBehaviorSanitizer with leak detection, then the short replays of
# the fuzz targets' corpora (only where clang's libFuzzer is installed).
test: test-plain test-sanitize test-fuzz-replay

test-plain: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE_DIR) -DPK_WERROR=ON -DPK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Each fuzz target replays its seeds and kept regression inputs and then runs
# a short, fixed-seed session. Needs clang with libFuzzer; without it this
# step says so and is skipped (g++, CMake and GoogleTest run everything else).
test-fuzz-replay:
	@if scripts/libfuzzer-available.sh; then \
	  $(MAKE) --no-print-directory fuzz-build && \
	  ctest --test-dir $(FUZZ_DIR) --output-on-failure -j $(JOBS); \
	else \
	  echo "SKIPPED the fuzz corpus replays: clang++ with libFuzzer is not installed here"; \
	  echo "(make fuzz installs it from the Debian packages clang and libclang-rt-dev)"; \
	fi

fuzz-build:
	cmake -S tests/fuzz -B $(FUZZ_DIR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# Installs clang's libFuzzer when it is missing, builds the fuzz targets and
# runs each for FUZZ_SECONDS (600 s by default; FUZZ_JOBS at a time).
fuzz:
	scripts/install-fuzz-toolchain.sh
	$(MAKE) --no-print-directory fuzz-build
	scripts/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_JOBS)

# The unit suites and the C host under valgrind memcheck: no error, no
# definitely lost byte.
valgrind: build
	scripts/run-valgrind.sh $(BUILD_DIR)

demo: build
	@if [ -x $(BUILD_DIR)/examples/powderkit-demo ]; then \
	  $(BUILD_DIR)/examples/powderkit-demo $(ARGS); \
	else echo "the demo host is not built yet"; exit 1; fi

install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX),)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)
