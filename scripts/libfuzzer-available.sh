#!/bin/sh
# Exits 0 when the C++ compiler named by FUZZ_CXX (clang++ by default) can
# link a libFuzzer target, 1 otherwise. Prints nothing.
cxx="${FUZZ_CXX:-clang++}"
command -v "$cxx" >/dev/null 2>&1 || exit 1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cat >"$dir/probe.cpp" <<'SRC'
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, std::size_t) { return 0; }
SRC
"$cxx" -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
