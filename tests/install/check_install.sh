#!/usr/bin/env bash
# Installs a configured and built tree into a fresh temporary prefix and
# builds a small C program against it twice, through pkg-config and through
# CMake's find_package, then runs both without LD_LIBRARY_PATH: the
# installed files must be complete, name the prefix they were installed to
# and find each other's libraries. Then installs the Python package into the
# same prefix with pip and imports it from there, and checks that a copy of
# the package without the library fails to import with advice on installing.
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

# The Python package, installed by pip into the same prefix, finds the installed
# library from where it lands (P/local/lib/python3.X/dist-packages on Debian,
# P/lib/python3.X/site-packages elsewhere) with no help from the environment.
python=/usr/bin/python3
if ! "$python" -c 'import numpy, pip' >/dev/null 2>&1; then
    echo "== SKIPPED the Python package: $python lacks numpy or pip (scripts/setup.sh installs them)"
else
    echo "== the Python package (pip install --prefix)"
    # pip builds in a copy, so that its build/ and *.egg-info never land in the source tree.
    cp -R "$here/../../python" "$work/python"
    rm -rf "$work/python/build" "$work/python"/*.egg-info
    PIP_DISABLE_PIP_VERSION_CHECK=1 "$python" -m pip install --no-build-isolation --no-deps --no-index \
        --prefix "$prefix" "$work/python" >"$work/pip.log" 2>&1 ||
        { cat "$work/pip.log" >&2; fail "pip install of the Python package"; }
    init=$(find "$prefix" -path '*/powderkit/__init__.py' | head -n 1)
    [ -n "$init" ] || fail "pip installed no powderkit package under $prefix"
    site=$(dirname "$(dirname "$init")")
    cif=$(find "$prefix" -name corundum.cif | head -n 1)
    cif=${cif:-$here/../../examples/data/corundum.cif}
    mkdir "$work/empty" "$work/alone"
    (cd "$work/empty" && env -u LD_LIBRARY_PATH -u POWDERKIT_LIBRARY PYTHONPATH="$site" \
        "$python" - "$prefix" "$cif" <<'EOF'
import os
import sys

import numpy as np
import powderkit as pk

prefix, cif = (os.path.realpath(p) for p in sys.argv[1:])
for what, path in (("package", pk.__file__), ("library", pk.library_path)):
    if not os.path.realpath(path).startswith(prefix + os.sep):
        sys.exit(f"the {what} was loaded from {path}, outside {prefix}")
x = np.linspace(10, 150, 14001)
y = pk.pattern([pk.Phase.from_cif(cif)], x, anode="Cu")
if not (np.all(np.isfinite(y)) and y.max() > 0):
    sys.exit(f"the corundum pattern is not finite and positive: max {y.max()}")
print(f"   powderkit {pk.__version__} on library {pk.library_version} ({pk.library_path}): corundum peaks at "
      f"{x[np.argmax(y)]:.2f} degrees")
EOF
    ) || fail "the installed Python package"

    echo "== the Python package without its library"
    cp -R "$site/powderkit" "$work/alone/"
    (cd "$work/empty" && env -u LD_LIBRARY_PATH -u POWDERKIT_LIBRARY PYTHONPATH="$work/alone" \
        "$python" - "$work" <<'EOF'
import sys

try:
    import powderkit
except ImportError as error:
    message = str(error)
    for advice in ("cmake --install", "pip install", "POWDERKIT_LIBRARY"):
        if advice not in message:
            sys.exit(f"the ImportError does not say '{advice}': {message}")
else:
    if powderkit.library_path.startswith(sys.argv[1]):
        sys.exit(f"a copy of the package alone found a library: {powderkit.library_path}")
    print(f"   (not checked: a library installed system-wide was found, {powderkit.library_path})")
EOF
    ) || fail "the Python package without its library"
fi

echo "== the installed tree works"
