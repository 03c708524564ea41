#!/bin/sh
# Makes sure clang and its libFuzzer runtime are installed, from Debian
# packages: clang (the compiler) and libclang-rt-dev (the sanitizer and
# libFuzzer runtimes, libclang_rt.fuzzer*.a). Does nothing when a libFuzzer
# target already links. Needs root (or sudo) when something is missing.
set -eu
here=$(dirname "$0")
if "$here/libfuzzer-available.sh"; then
    exit 0
fi
echo "clang's libFuzzer runtime is missing: installing clang and libclang-rt-dev"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "cannot install packages: not root and no sudo" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq clang libclang-rt-dev
if ! "$here/libfuzzer-available.sh"; then
    echo "clang still cannot link a libFuzzer target" >&2
    exit 1
fi
