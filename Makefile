# Front door for newcomers: `make demo` and `make test` wrap CMake.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
DEMO_DIR ?= build-demo
# The structure `make demo` calculates and where its files go.
DEMO_CIF ?= examples/data/corundum.cif
DEMO_OUTPUT ?= demo-output
# Seconds each fuzz target runs under `make fuzz`, and how many run at once.
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 1
JOBS ?= 2
export ASAN_OPTIONS ?= detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all setup setup-demo build test test-plain test-install test-sanitize test-threads test-fuzz-replay \
	fuzz fuzz-build valgrind demo demo-host install clean bench-python

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DPK_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The Debian packages the project needs (installed only when missing), and
# the few that `make demo` needs.
setup:
	scripts/setup.sh

setup-demo:
	scripts/setup.sh --demo

# The packages, every test, a consumer of the installed tree, every test
# again under AddressSanitizer and UndefinedBehaviorSanitizer with leak
# detection, then the short replays of the fuzz targets' corpora (only where
# clang's libFuzzer is installed).
test: setup
	@$(MAKE) --no-print-directory test-plain test-install test-sanitize test-threads test-fuzz-replay

test-plain: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Installs the build into a temporary prefix and builds and runs a small C
# program against it, through pkg-config and through find_package(powderkit).
test-install: build
	tests/install/check_install.sh $(BUILD_DIR)

# The phase layer's thread tests (threads sharing one phase and one model,
# refinements of distinct objects in parallel)
# under ThreadSanitizer.
THREAD_DIR ?= build-thread
test-threads:
	cmake -S . -B $(THREAD_DIR) -DPK_WERROR=ON -DPK_SANITIZE_THREAD=ON -DPK_BUILD_EXAMPLES=OFF \
	  -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(THREAD_DIR) -j $(JOBS) --target pk_boundary_tests pk_pattern_tests pk_refinement_tests
	TSAN_OPTIONS=halt_on_error=1 $(THREAD_DIR)/tests/pk_boundary_tests
	TSAN_OPTIONS=halt_on_error=1 $(THREAD_DIR)/tests/pk_pattern_tests --gtest_filter='*Thread*'
	TSAN_OPTIONS=halt_on_error=1 $(THREAD_DIR)/tests/pk_refinement_tests --gtest_filter='*Thread*'

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

# The libraries and the `powderkit` command only (no tests, no examples),
# then the pattern of corundum from its CIF file. ARGS go to the command.
demo: setup-demo
	cmake -S . -B $(DEMO_DIR) -DPK_BUILD_TESTS=OFF -DPK_BUILD_EXAMPLES=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build $(DEMO_DIR) -j $(JOBS) --target powderkit_cli
	$(DEMO_DIR)/cli/powderkit pattern $(DEMO_CIF) --output $(DEMO_OUTPUT) $(ARGS)
	@echo
	@echo "The calculated pattern of $(DEMO_CIF) is in $(DEMO_OUTPUT)/:"
	@echo "  $(DEMO_OUTPUT)/pattern.xy        the pattern: 2θ and intensity, two columns"
	@echo "  $(DEMO_OUTPUT)/reflexions.tsv    its reflexions, one per line"
	@echo "  $(DEMO_OUTPUT)/pattern.svg       the pattern drawn, for a browser"
	@echo "The command itself: $(DEMO_DIR)/cli/powderkit --help"

# The shortest C program on the phase layer (examples/demo): ARGS="FILE.cif [OUTPUT]".
demo-host: build
	@if [ -x $(BUILD_DIR)/examples/powderkit-demo ]; then \
	  $(BUILD_DIR)/examples/powderkit-demo $(ARGS); \
	else echo "the demo host is not built yet"; exit 1; fi

# The Python package's pk.pattern beside the same call from C and a numpy-only sum
# (bench/python/pattern_bench.py), on a Release build with the benchmarks.
BENCH_DIR ?= build-bench
bench-python:
	cmake -S . -B $(BENCH_DIR) -DPK_BUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_DIR) -j $(JOBS) --target powderkit_phase pk_roads_bench
	/usr/bin/python3 bench/python/pattern_bench.py $(BENCH_DIR)

install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX),)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(THREAD_DIR) $(DEMO_DIR) $(DEMO_OUTPUT)
