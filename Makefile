# Front door for newcomers: `make demo` and `make test` wrap CMake.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= 2
export ASAN_OPTIONS ?= detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all build test test-plain test-sanitize demo install clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DPK_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every test, then every test again under AddressSanitizer and
# UndefinedBehaviorSanitizer with leak detection.
test: test-plain test-sanitize

test-plain: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE_DIR) -DPK_WERROR=ON -DPK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

demo: build
	@if [ -x $(BUILD_DIR)/examples/powderkit-demo ]; then \
	  $(BUILD_DIR)/examples/powderkit-demo $(ARGS); \
	else echo "the demo host is not built yet"; exit 1; fi

install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX),)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
