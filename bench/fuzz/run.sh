#!/usr/bin/env bash
# Runs the libFuzzer harnesses of tests/fuzz (clang-14, AddressSanitizer + UBSan): each harness starts
# from its committed seeds and regressions plus the corpus its earlier runs grew, and stops at its
# first finding. Prints per harness: executions, executions per second, coverage (edges and
# libFuzzer's features), corpus size and findings; exits non-zero when any harness found something.
#
#   bench/fuzz/run.sh [SECONDS] [--runs N] [--jobs J] [--work DIR] [--build DIR] [--no-build] [NAME...]
#
#   SECONDS   time per harness (default 600); --runs N runs each harness N inputs instead
#   --jobs J  harnesses run in parallel (default: BRELVOX_JOBS or the number of processors)
#   --work    corpus, logs and findings (default: BUILD/fuzz-work; the corpus is kept between runs)
#   --build   the fuzz build folder (default: build-fuzz), configured and built first unless --no-build
#   NAME...   only these harnesses (default: every fuzz_NAME program of the build)
#
# A finding is the input libFuzzer saved (crash-*, leak-*, timeout-*, oom-*) in WORK/NAME/. Keep it
# as tests/fuzz/regressions/NAME/<what it shows> once the fault is mended, so every build replays it.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds=600
runs=0
jobs=${BRELVOX_JOBS:-$(nproc)}
build="$root/build-fuzz"
work=""
do_build=1
names=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --no-build) do_build=0; shift ;;
        [0-9]*) seconds=$1; shift ;;
        -*) sed -n '7,13p' "$0" >&2; exit 2 ;;
        *) names+=("$1"); shift ;;
    esac
done
[[ -n $work ]] || work="$build/fuzz-work"

if [[ $do_build == 1 ]]; then
    command -v clang++-14 >/dev/null || { echo "clang++-14 is missing (scripts/install-deps installs it)" >&2; exit 1; }
    CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBRELVOX_FUZZ=ON >/dev/null || exit 1
    cmake --build "$build" -j "$jobs" >/dev/null || { cmake --build "$build" -j 1 | tail -40; exit 1; }
fi
if [[ ${#names[@]} -eq 0 ]]; then
    for p in "$build"/tests/fuzz/fuzz_*; do [[ -x $p ]] && names+=("${p##*/fuzz_}"); done
fi
[[ ${#names[@]} -gt 0 ]] || { echo "no harness in $build/tests/fuzz" >&2; exit 1; }

# One harness: its own corpus first (libFuzzer adds new inputs to the first folder only, never to the
# committed ones), then its seeds and regressions.
run_one() {
    local name=$1 dir="$work/$1" limit
    rm -f "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* "$dir"/slow-unit-* "$dir/log"
    mkdir -p "$dir/corpus"
    if [[ $runs -gt 0 ]]; then limit="-runs=$runs"; else limit="-max_total_time=$seconds"; fi
    local inputs=("$dir/corpus")
    for kind in seeds regressions; do
        [[ -d $root/tests/fuzz/$kind/$name ]] && inputs+=("$root/tests/fuzz/$kind/$name")
    done
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/tests/fuzz/fuzz_$name" "$limit" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$dir/" "${inputs[@]}" >"$dir/log" 2>&1
    echo $? >"$dir/status"
}

start=$(date +%s)
running=0
for name in "${names[@]}"; do
    [[ -x $build/tests/fuzz/fuzz_$name ]] || { echo "no harness $name" >&2; exit 1; }
    run_one "$name" &
    running=$((running + 1))
    if [[ $running -ge $jobs ]]; then wait -n; running=$((running - 1)); fi
done
wait

if [[ $runs -gt 0 ]]; then what="$runs runs each"; else what="$seconds s each"; fi
echo "fuzz harnesses: $what, $jobs in parallel, $(( $(date +%s) - start )) s in all (work: $work)"
printf '%-20s %11s %9s %7s %8s %7s  %s\n' harness executions exec/s edges features corpus findings
failed=0
for name in "${names[@]}"; do
    dir="$work/$name"
    log="$dir/log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    # The last status line of libFuzzer: "#N <event> cov: E ft: F corp: C/..."
    status_line=$(grep -E '^#[0-9]+' "$log" | grep -E ' cov: ' | tail -1)
    edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status_line")
    features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status_line")
    corpus=$(find "$dir/corpus" -type f | wc -l)
    findings=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) -printf '%f ')
    code=$(cat "$dir/status" 2>/dev/null || echo 1)
    if [[ -z $findings && $code != 0 ]]; then findings="exit $code (see $log)"; fi
    [[ -n $findings ]] && failed=1
    printf '%-20s %11s %9s %7s %8s %7s  %s\n' "$name" "${execs:--}" "${rate:--}" "${edges:--}" "${features:--}" \
        "$corpus" "${findings:-0}"
done
if [[ $failed == 1 ]]; then
    echo "findings: each is in WORK/NAME/ and its log's end shows the fault"
    exit 1
fi
echo "no findings"
