#!/bin/sh
# Runs every fuzz target of a fuzz build for a stated time.
#   run-fuzzers.sh BUILD_DIR SECONDS [JOBS] [TARGET...]
# Each target works on its own corpus in BUILD_DIR/corpus/<target>, started
# from the repository's seeds (tests/fuzz/corpus/<target>) and kept
# regressions (tests/fuzz/regressions/<target>); its log goes to
# BUILD_DIR/logs/<target>.log and any crashing, leaking or hanging input to
# BUILD_DIR/findings/<target>/. JOBS targets run at once. Exits 1 when a
# target found something: keep that input under tests/fuzz/regressions/.
set -u
build=$1
seconds=$2
jobs=${3:-1}
shift 3 2>/dev/null || shift $#
top=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then
    targets="$*"
else
    targets=$(cat "$build/targets.txt")
fi
mkdir -p "$build/logs"

run_one() {
    name=$1
    work="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$work" "$findings"
    set -- "$work" "$top/tests/fuzz/corpus/$name"
    if [ -d "$top/tests/fuzz/regressions/$name" ]; then
        set -- "$@" "$top/tests/fuzz/regressions/$name"
    fi
    # Standard output and error of the library are closed (its messages would
    # fill the log); libFuzzer keeps its own and the sanitizers' reports.
    "$build/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -close_fd_mask=3 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" "$@" \
        >"$build/logs/$name.log" 2>&1
    status=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$name.log" | grep -o '[0-9]*$')
    if [ $status -eq 0 ]; then
        echo "fuzz $name: ${seconds} s, ${runs:-?} runs, no finding"
    else
        echo "fuzz $name: FOUND A FAULT (exit $status); see $build/logs/$name.log and $findings/"
    fi
    return $status
}

echo "fuzzing each of: $targets for $seconds s ($jobs at a time)"
failed=0
running=0
pids=""
for name in $targets; do
    run_one "$name" &
    pids="$pids $!"
    running=$((running + 1))
    if [ $running -ge "$jobs" ]; then
        for pid in $pids; do wait "$pid" || failed=1; done
        pids=""
        running=0
    fi
done
for pid in $pids; do wait "$pid" || failed=1; done
exit $failed
