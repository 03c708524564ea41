#!/bin/sh
# Runs every test executable of a (non-sanitized) build under valgrind
# memcheck: each must finish with no memcheck error and no definitely lost
# byte. Logs go to BUILD_DIR/valgrind/<executable>.log.
#   run-valgrind.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd) || exit 1
if ! command -v valgrind >/dev/null 2>&1; then
    echo "valgrind is not installed (Debian package: valgrind)" >&2
    exit 1
fi
mkdir -p "$build/valgrind"
failed=0
count=0
for exe in "$build"/tests/pk_*_tests "$build"/tests/pk_host; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    log="$build/valgrind/$name.log"
    count=$((count + 1))
    # Run from the build directory, as ctest does (the element-table test
    # writes files beside itself).
    (cd "$build/tests" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --show-leak-kinds=definite \
        --log-file="$log" "$exe" >"$log.out" 2>&1)
    status=$?
    errors=$(grep -o 'ERROR SUMMARY: [0-9]*' "$log" | tail -1)
    lost=$(grep -o 'definitely lost: [0-9,]* bytes' "$log" | tail -1)
    if [ $status -eq 0 ]; then
        echo "valgrind $name: ok (${errors:-ERROR SUMMARY: 0}, ${lost:-definitely lost: 0 bytes})"
    else
        echo "valgrind $name: FAILED (exit $status; ${errors:-?}, ${lost:-?}); see $log and $log.out"
        failed=1
    fi
done
if [ $count -eq 0 ]; then
    echo "no test executables under $build/tests" >&2
    exit 1
fi
exit $failed
