#!/usr/bin/env bash
# Installs a configured and built tree into a fresh temporary prefix and
# builds a small C program against it twice, through pkg-config and through
# CMake's find_package, then runs both without LD_LIBRARY_PATH: the
# installed files must be complete, name the prefix they were installed to
# and find each other's libraries.
#
#   tests/install/check_install.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 BUILD_DIR   (a configured and built powderkit build folder)" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/powderkit-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "check_install: FAILED: $*" >&2
    exit 1
}

echo "== installing $build into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log" >&2; fail "cmake --install"; }

# GNUInstallDirs may choose lib, lib64 or lib/<multiarch>.
pcdir=$(find "$prefix" -name powderkit_phase.pc -printf '%h\n' | head -n 1)
[ -n "$pcdir" ] || fail "no powderkit_phase.pc under $prefix"
libdir=$(dirname "$pcdir")
for file in include/powderkit.h include/powderkit_phase.h; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for lib in libpowderkit.so.0 libpowderkit_phase.so.0; do
    [ -e "$libdir/$lib" ] || fail "$lib is not in $libdir"
done
if grep -rIlF -- "$build" "$prefix" >"$work/mentions"; then
    echo "installed files naming the build folder:" >&2
    cat "$work/mentions" >&2
    fail "the installed tree refers to the build folder"
fi

# The libraries and the command find their libraries through $ORIGIN alone.
if command -v readelf >/dev/null 2>&1; then
    for lib in "$libdir/libpowderkit.so.0" "$libdir/libpowderkit_phase.so.0"; do
        readelf -d "$lib" | grep -q 'R\(UN\)\?PATH.*\$ORIGIN' ||
            fail "$(basename "$lib") has no \$ORIGIN run path"
    done
fi
if [ -x "$prefix/bin/powderkit" ]; then
    echo "== the installed command"
    (cd "$work" && env -u LD_LIBRARY_PATH "$prefix/bin/powderkit" --help >/dev/null) ||
        fail "the installed powderkit command does not run"
fi

cflags_libs() {
    PKG_CONFIG_PATH=$pcdir pkg-config "$@" powderkit_phase
}

echo "== pkg-config: $(cflags_libs --modversion)"
flags=$(cflags_libs --cflags --libs) || fail "pkg-config powderkit_phase"
read -r -a pkgflags <<<"$flags"
cc=${CC:-cc}
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror "$here/consumer.c" -o "$work/consumer-pc" \
    "${pkgflags[@]}" -lm -Wl,-rpath,"$libdir" || fail "building the consumer with pkg-config"
env -u LD_LIBRARY_PATH "$work/consumer-pc" || fail "the consumer built with pkg-config"

echo "== CMake find_package(powderkit)"
cmake -S "$here" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >"$work/consumer-configure.log" ||
    { cat "$work/consumer-configure.log" >&2; fail "configuring the consumer with find_package"; }
cmake --build "$work/consumer-build" >"$work/consumer-build.log" ||
    { cat "$work/consumer-build.log" >&2; fail "building the consumer with find_package"; }
env -u LD_LIBRARY_PATH "$work/consumer-build/consumer" || fail "the consumer built with CMake"

echo "== the installed tree works"
