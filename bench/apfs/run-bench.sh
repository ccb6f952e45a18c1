#!/usr/bin/env bash
# Deep-scan benchmark of the APFS search beside PhotoRec (never part of the test run). Makes a 2 GiB
# disk (make-disk.py): apfs-1g-sparse.img from ../shared/fixtures, then a synthetic container of
# 100,000 never-ready tree nodes; warms the page cache, then times on the same disk:
#   brelvox-scan --deep (list only, and list + copy-out), photorec /cmd (everything)
# with wall time, MB/s, peak memory and the ratio; then counts instructions with callgrind on a 1 GiB
# disk of 20,000 nodes: the APFS searcher's AnalyzeBlock against the raw search's AnalyzeSectors, and
# the cost of each container flush, per 4 MiB range, first quarter of the ranges holding nodes against the last.
#
#   bench/apfs/run-bench.sh [--driver PATH] [--work DIR] [--size 2G] [--nodes 100000] [--no-callgrind | --callgrind-only]
#   bench/apfs/run-bench.sh --smoke [--driver PATH] [--work DIR]
#
# The peers are Debian packages (testdisk; valgrind for the counts); run as root the script installs
# what is missing with apt-get. --smoke is the test run's check: a 160 MiB disk of 2,000 nodes without
# the shared image, the driver run as the benchmark runs it; every node must be listed. No peers.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
driver="$here/../../build/tools/brelvox-scan"
shared="$here/../../../shared/fixtures/apfs-1g-sparse.img.xz"
work=/tmp/brelvox-bench-apfs
size=2G
nodes=100000
callgrind=1
timings=1
smoke=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --smoke) smoke=1; shift ;;
        --driver) driver=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --nodes) nodes=$2; shift 2 ;;
        --no-callgrind) callgrind=0; shift ;;
        --callgrind-only) timings=0; shift ;;
        *) echo "usage: run-bench.sh [--smoke] [--driver PATH] [--work DIR] [--size 2G] [--nodes N] [--no-callgrind | --callgrind-only]" >&2; exit 2 ;;
    esac
done
driver="$(realpath "$driver")"
[[ -x $driver ]] || { echo "no driver at $driver (build brelvox-scan first)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

# listed LIST: the number of distinct never-ready nodes in a listing.
listed() { grep -o $'^37\t[^\t]*/waiting [0-9]*\\.bin\t' "$1" | grep -o 'waiting [0-9]*' | sort -u | wc -l; }

if [[ $smoke == 1 ]]; then
    "$here/make-disk.py" --out smoke.img --size 160M --nodes 2000 >/dev/null
    "$driver" --deep --list smoke.list --recover smoke-out smoke.img >/dev/null 2>smoke.err ||
        { echo "smoke: the scan failed: $(tail -n 1 smoke.err)" >&2; exit 1; }
    got=$(listed smoke.list)
    echo "smoke: $got of 2000 never-ready nodes listed"
    # A copy holds its name's lines: the node was handed over with its extent.
    copy=$(find smoke-out -name 'waiting 001999.bin' | head -1)
    expected=$(python3 -c 'import sys; n = "waiting 001999.bin\n"; sys.stdout.write(n * (4096 // len(n)))' | sha256sum)
    [[ -n $copy && $(sha256sum <"$copy") == "$expected" ]] || { echo "smoke: waiting 001999.bin not copied whole" >&2; exit 1; }
    rm -rf smoke.img smoke.list smoke-out smoke.err
    [[ $got == 2000 ]] || exit 1
    exit 0
fi

need=()
command -v photorec >/dev/null || need+=(testdisk)
[[ $callgrind == 0 ]] || command -v valgrind >/dev/null || need+=(valgrind)
[[ -x /usr/bin/time ]] || need+=(time)
if [[ ${#need[@]} -gt 0 ]]; then
    [[ $(id -u) == 0 ]] || { echo "missing packages: ${need[*]}" >&2; exit 1; }
    apt-get install -y -q "${need[@]}" >/dev/null
fi
if [[ $timings == 1 ]]; then
    [[ -f $shared ]] || { echo "no $shared" >&2; exit 1; }
    [[ -f apfs-1g-sparse.img ]] || xz -dkc "$shared" | cp --sparse=always /dev/stdin apfs-1g-sparse.img
    image="$work/bench-$size.img"
    [[ -f $image ]] || "$here/make-disk.py" --out "$image" --size "$size" --nodes "$nodes" --shared apfs-1g-sparse.img >/dev/null
    bytes=$(stat -c %s "$image")

    . "$here/../support/timed-runs.sh"

    echo "disk: $image, $bytes bytes, apfs-1g-sparse.img and $nodes never-ready nodes; $(nproc) cores; $(date -u +%FT%TZ)"
    echo
    run brelvox-scan-list out-list "$driver" --deep --list "$work/brelvox.list" "$image"
    run brelvox-scan-recover out-brelvox "$driver" --deep --list "$work/recover.list" --recover "$work/out-brelvox/o" "$image"
    run photorec-everything out-pr-all photorec_in out-pr-all partition_none,fileopt,everything,enable,options,paranoid,search
    echo
    # The container before it takes them too (the first container is offered every plausible block).
    echo "never-ready nodes listed: $(listed "$work/brelvox.list") of $nodes, in $(grep -c 'waiting [0-9]*\.bin' "$work/brelvox.list") lines"
    echo "speed ratio (PhotoRec wall / our wall, target at least 1):"
    printf '  vs brelvox-scan-list %6.2f   vs brelvox-scan-recover %6.2f\n' \
        "$(echo "${wall[photorec-everything]} / ${wall[brelvox-scan-list]}" | bc -l)" \
        "$(echo "${wall[photorec-everything]} / ${wall[brelvox-scan-recover]}" | bc -l)"

fi

if [[ $callgrind == 1 ]]; then
    echo
    echo "callgrind of brelvox-scan --deep on a 1 GiB disk of 20,000 never-ready nodes"
    small="$work/cg-1G-20000.img"
    [[ -f $small ]] || "$here/make-disk.py" --out "$small" --size 1G --nodes 20000 >/dev/null
    rm -rf "$work/cg" && mkdir -p "$work/cg"
    # A dump at the start of each flush: dump k holds the whole of flush k-1 and the scan between them.
    valgrind --tool=callgrind --callgrind-out-file="$work/cg/out" --dump-before='APFSContainer::Flush*' \
        "$driver" --deep --list "$work/cg.list" "$small" >/dev/null 2>"$work/cg.err"
    # inclusive TEXT PATTERN: the inclusive count of the function of that name in an annotated dump
    # (0 when absent).
    inclusive() {
        grep -F "$2" <<<"$1" | grep -v '=>' | grep -F '[' | head -1 | awk '{gsub(",","",$1); print $1 + 0}' || true
    }
    apfs=0 read=0 raw=0 flushes=()
    for f in $(ls "$work"/cg/out.* | sort -t. -k2 -n) "$work/cg/out"; do
        # Every function, however small its share (a flush is a sliver of its dump).
        text=$(callgrind_annotate --inclusive=yes --threshold=100 "$f" 2>/dev/null || true)
        a=$(inclusive "$text" 'APFSDeepScan::AnalyzeBlock(')
        g=$(inclusive "$text" 'APFSDeepScan::ReadGroup(')
        r=$(inclusive "$text" 'CRAWSearchController::AnalyzeSectors(')
        apfs=$((apfs + ${a:-0}))
        read=$((read + ${g:-0}))
        raw=$((raw + ${r:-0}))
        # Only the ranges that hold nodes: before them (the container's own metadata) a flush has
        # nothing to look at and costs a few dozen instructions; one node costs more than 1000.
        f_cost=$(inclusive "$text" 'APFSContainer::Flush(')
        [[ $f == "$work/cg/out" || ${f_cost:-0} -lt 1000 ]] || flushes+=("$f_cost")
    done
    # The raw search's AnalyzeSectors is handed its sectors; the APFS searcher reads its own groups:
    # the comparison leaves the APFS reads out (they are shown apart).
    printf '  APFSDeepScan::AnalyzeBlock %d Ir (of which its device reads %d), CRAWSearchController::AnalyzeSectors %d Ir\n' \
        "$apfs" "$read" "$raw"
    printf '  AnalyzeBlock without its reads / AnalyzeSectors: %.3f (target at most 0.2); with them: %.3f\n' \
        "$(echo "($apfs - $read) / $raw" | bc -l)" "$(echo "$apfs / $raw" | bc -l)"
    # The flushes of the ranges (4 MiB each), the final one aside: first quarter against last quarter.
    n=${#flushes[@]}
    q=$((n / 4))
    if ((q > 0)); then
        first=0 last=0
        for ((i = 0; i < q; ++i)); do first=$((first + ${flushes[i]:-0})); last=$((last + ${flushes[n - q + i]:-0})); done
        printf '  %d flushes of ranges with nodes: first quarter %d Ir, last quarter %d Ir: last/first %.3f (target at most 1.10)\n' \
            "$n" "$first" "$last" "$(echo "$last / $first" | bc -l)"
    fi
fi
