#!/usr/bin/env bash
# Compares what two builds of the engine driver make of the same disks: for every image, the deep scan's
# listing, partition records and recovered files (their paths and SHA-256), and the quick scan's listing
# and recovered files, with each run's exit status and summary line. A refactoring that must change no
# result runs it with the driver built before and the one built after.
#
#   bench/support/compare-driver.sh [--work DIR] [--keep] BEFORE AFTER [IMAGE...]
#
# Without images: every committed fixture image (tests/fixtures/**/*.xz) and every shared one
# (../shared/fixtures), unpacked into the work folder. Prints one line per image and scan, "same" or
# "DIFFERS" with the files that differ, and exits 1 when anything differs.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work=/tmp/brelvox-compare-driver
keep=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --work) work=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        -*) echo "usage: compare-driver.sh [--work DIR] [--keep] BEFORE AFTER [IMAGE...]" >&2; exit 2 ;;
        *) break ;;
    esac
done
[[ $# -ge 2 ]] || { echo "usage: compare-driver.sh [--work DIR] [--keep] BEFORE AFTER [IMAGE...]" >&2; exit 2; }
before=$(realpath "$1")
after=$(realpath "$2")
shift 2
for d in "$before" "$after"; do [[ -x $d ]] || { echo "no driver at $d" >&2; exit 2; }; done
mkdir -p "$work/images"

images=("$@")
if [[ ${#images[@]} -eq 0 ]]; then
    while IFS= read -r packed; do
        name=$(basename "$packed" .xz)
        # Fixtures of different folders may share a name.
        folder=$(basename "$(dirname "$packed")")
        out="$work/images/$folder-$name"
        [[ -f $out ]] || xz -dc "$packed" >"$out" || { echo "cannot unpack $packed" >&2; exit 2; }
        images+=("$out")
    done < <(find "$root/tests/fixtures" "$root/../shared/fixtures" -name '*.xz' 2>/dev/null | sort)
    while IFS= read -r plain; do images+=("$plain"); done < <(find "$root/../shared/fixtures" -name '*.dmg' 2>/dev/null | sort)
fi

# run DRIVER OUT MODE IMAGE: the scan's outputs in OUT (list, partitions, recovered files' digests).
run() {
    local driver=$1 out=$2 mode=$3 image=$4
    rm -rf "$out"
    mkdir -p "$out"
    local args=("--$mode" --list "$out/list" --recover "$out/files")
    [[ $mode == deep ]] && args+=(--partitions "$out/partitions")
    "$driver" "${args[@]}" "$image" >"$out/stdout" 2>"$out/stderr"
    echo "exit $?" >"$out/status"
    # The driver's own messages (why a run failed), not the engine's debug lines (an older driver wrote
    # those to standard error too, unbuffered among its own).
    grep -o 'brelvox-scan: .*' "$out/stderr" >>"$out/status"
    if [[ -d $out/files ]]; then
        (cd "$out/files" && find . -type d | LC_ALL=C sort >"$out/folders" &&
            find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum >"$out/digests")
        rm -rf "$out/files"
    fi
}

status=0
for image in "${images[@]}"; do
    for mode in deep quick; do
        a="$work/before/$(basename "$image")-$mode"
        b="$work/after/$(basename "$image")-$mode"
        run "$before" "$a" "$mode" "$image"
        run "$after" "$b" "$mode" "$image"
        differs=()
        for f in status stdout list partitions folders digests; do
            [[ -e $a/$f || -e $b/$f ]] || continue
            cmp -s "$a/$f" "$b/$f" || differs+=("$f")
        done
        files=$(cat "$b/digests" 2>/dev/null | wc -l)
        lines=$(cat "$b/list" 2>/dev/null | wc -l)
        if [[ ${#differs[@]} -eq 0 ]]; then
            printf '%-52s %-5s same     (%s lines, %s files, %s)\n' "$(basename "$image")" "$mode" "$lines" "$files" \
                "$(head -n 1 "$b/status")"
        else
            printf '%-52s %-5s DIFFERS  %s\n' "$(basename "$image")" "$mode" "${differs[*]}"
            status=1
        fi
    done
done
[[ $keep == 1 ]] || rm -rf "$work/before" "$work/after"
exit $status
