#!/usr/bin/env bash
# Times the test command as a small CI machine runs it: a fresh clone of this checkout's HEAD (commit
# first: changes not committed are not in it) in a temporary folder, an empty compiler cache of its
# own, pinned to two processors with two jobs, running .ci/run (`make test`). Prints each phase's wall
# and processor time, as the test command's closing table gives them, and the whole run's.
#
#   bench/ci/time-test.sh [--cores LIST] [--jobs N] [--warm] [--work DIR] [--keep]
#
#   --cores LIST  the processors the run is pinned to (taskset -c; default 0,1)
#   --jobs N      BRELVOX_JOBS of the run (default: as many as the processors of LIST)
#   --warm        then a second run in a fresh clone with the cache the first one filled
#   --work DIR    where the clone, its cache and the logs go (default: a new folder in /tmp)
#   --keep        keep the work folder (the clone's build folders go as CI's do, BRELVOX_FREE_DISK)
#
# The switches of the test command (BRELVOX_SKIP_TSAN=1, ...) pass through the environment. The shared
# images the tests read (../shared/fixtures beside the checkout) are linked beside the clone.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cores=0,1
jobs=""
warm=0
work=""
keep=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --cores) cores=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --warm) warm=1; shift ;;
        --work) work=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) sed -n '7,13p' "$0" >&2; exit 2 ;;
    esac
done
command -v taskset >/dev/null || { echo "time-test: taskset (util-linux) is missing" >&2; exit 1; }
if [[ -z $jobs ]]; then
    jobs=$(taskset -c "$cores" nproc) || { echo "time-test: cannot pin to processors $cores" >&2; exit 1; }
fi
if [[ -z $work ]]; then
    work=$(mktemp -d /tmp/brelvox-time-test.XXXXXX)
else
    mkdir -p "$work" || exit 1
fi
[[ $keep -eq 1 ]] || trap 'rm -rf "$work"' EXIT
commit=$(git -C "$root" rev-parse HEAD) || exit 1
[[ -z $(git -C "$root" status --porcelain --untracked-files=no) ]] \
    || echo "time-test: the checkout has changes not committed; the clone times $commit without them"
if [[ -d $root/../shared ]]; then ln -sfn "$(cd "$root/../shared" && pwd)" "$work/shared"; fi
export CCACHE_DIR="$work/ccache"

# One run: clone, then the test command pinned; its log in WORK/NAME.log.
run() {  # name
    local clone="$work/$1" log="$work/$1.log" start status
    rm -rf "$clone"
    git clone --quiet --no-hardlinks "$root" "$clone" && git -C "$clone" checkout --quiet "$commit" || return 1
    echo "=== $1 run: $commit on processors $cores, $jobs jobs, compiler cache $CCACHE_DIR" \
        "($(ccache -s 2>/dev/null | awk '/Cache size/ { print $4 " GB"; exit }'))"
    start=$(date +%s)
    taskset -c "$cores" env BRELVOX_JOBS="$jobs" "$clone/.ci/run" >"$log" 2>&1
    status=$?
    echo "=== $1 run: exit $status after $(( $(date +%s) - start )) s; phases (wall, processor):"
    sed -n '/^=== phase times/,/^=== /p' "$log" | grep -v '^=== phase times'
    [[ $status -eq 0 ]] || { echo "--- the last lines of $log:"; tail -30 "$log"; }
    rm -rf "$clone"
    return $status
}

status=0
run cold || status=1
if [[ $warm -eq 1 ]]; then run warm || status=1; fi
[[ $keep -eq 1 ]] && echo "=== logs in $work"
exit $status
