#!/usr/bin/env bash
# Installs every Debian package the project needs, and the front-end packages
# of web/package.json from the npm registry, and nothing when they are
# all there already (safe to run again and again; `make test` and `make demo`
# run it first).
#
#   scripts/setup.sh           everything: build, tests, phase layer, Python
#   scripts/setup.sh --demo    only what `make demo` needs
#
# Needs root or sudo when something is missing. Where it cannot install (no
# apt-get, no permission, no network) it names the missing packages and fails.
# The fuzz toolchain (clang, libFuzzer) is optional and installed by
# scripts/install-fuzz-toolchain.sh.
set -euo pipefail

# The compiler and build tools.
build_packages=(g++ cmake make pkg-config)
# The test suites, the benchmarks, the memory checks.
test_packages=(googletest libgtest-dev libbenchmark-dev valgrind)
# The phase layer and the command: the CIF parser (gemmi, with PEGTL and
# stb), the XML parser of the XRDML reader (pugixml), the scaled error
# function of the time-of-flight peaks (libcerf), option handling, JSON,
# linear algebra, the deflated curves of the report page (zlib).
phase_packages=(gemmi-dev tao-pegtl-dev libstb-dev libpugixml-dev libcerf-dev libcli11-dev nlohmann-json3-dev
                libeigen3-dev zlib1g-dev)
demo_phase_packages=(gemmi-dev tao-pegtl-dev libstb-dev libpugixml-dev libcerf-dev libcli11-dev nlohmann-json3-dev
                     zlib1g-dev)
# The Python package and its tests (Debian's /usr/bin/python3); pip installs the
# package with --no-build-isolation, so the build backend (setuptools, which
# needs wheel to build one) must be installed beside it.
python_packages=(python3 python3-numpy python3-pytest python3-matplotlib python3-distributed
                 python3-pip python3-setuptools python3-wheel)
# The refinement report's browser test: a headless Chromium.
browser_packages=(chromium)
# npm, for the front-end packages of web/package.json (the plotting library
# the report inlines, the browser driver of its test), when no Node.js is here.
node_packages=()
command -v npm >/dev/null 2>&1 || node_packages=(nodejs npm)

usage() {
    echo "usage: $0 [--demo]" >&2
    echo "  --demo   only the packages that \`make demo\` needs" >&2
}

wanted=()
case "$#:${1:-}" in
    0:) wanted=("${build_packages[@]}" "${test_packages[@]}" "${phase_packages[@]}"
                "${python_packages[@]}" "${browser_packages[@]}" "${node_packages[@]}") ;;
    1:--demo) wanted=("${build_packages[@]}" "${demo_phase_packages[@]}") ;;
    1:-h | 1:--help) usage; exit 0 ;;
    *) usage; exit 2 ;;
esac

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup: this is not a Debian-based system (no dpkg-query)." >&2
    echo "Install these packages, or their equivalents, by hand:" >&2
    echo "  ${wanted[*]}" >&2
    exit 1
fi

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [ "$status" != "install ok installed" ]; then
        missing+=("$package")
    fi
done

# The front-end packages, installed from the npm registry into web/node_modules
# as web/package-lock.json pins them (not for --demo, which draws no report).
install_web() {
    [ "${1:-}" = "--demo" ] && return 0
    local web
    web="$(cd "$(dirname "$0")/../web" && pwd)"
    if [ -f "$web/node_modules/.package-lock.json" ] && [ ! "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
        echo "setup: the front-end packages are installed"
        return 0
    fi
    # Without them the library still builds: its reports show their tables
    # but no plots, and the report's browser test is not run. Said loudly.
    if ! command -v npm >/dev/null 2>&1; then
        echo "setup: WARNING: npm is missing (Debian packages nodejs npm): reports will have no plots" >&2
        return 0
    fi
    echo "setup: installing the front-end packages of web/package.json"
    npm ci --prefix "$web" --no-audit --no-fund --loglevel=error ||
        echo "setup: WARNING: npm ci failed (offline, or no access to the npm registry?): reports will have no plots" >&2
}

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#wanted[@]} packages are installed"
    install_web "$@"
    exit 0
fi

cannot_install() {
    echo "setup: $1" >&2
    echo "These Debian packages are missing:" >&2
    echo "  ${missing[*]}" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
}

command -v apt-get >/dev/null 2>&1 || cannot_install "apt-get is not available here."
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
else
    cannot_install "installing packages needs root, and sudo is missing or asks for a password."
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Wait for another package manager to finish rather than fail at once.
apt_options=(-o DPkg::Lock::Timeout=300)
"${sudo[@]}" apt-get "${apt_options[@]}" update -qq ||
    cannot_install "apt-get update failed (offline, or no access to the package sources?)."
"${sudo[@]}" apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "${missing[@]}" ||
    cannot_install "apt-get install failed."

still=()
for package in "${missing[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || still+=("$package")
done
if [ ${#still[@]} -ne 0 ]; then
    missing=("${still[@]}")
    cannot_install "apt-get finished but some packages are still not installed."
fi
echo "setup: installed ${#missing[@]} packages"
install_web "$@"
