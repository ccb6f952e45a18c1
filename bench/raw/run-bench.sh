#!/usr/bin/env bash
# Deep-scan benchmark of the raw signature search against PhotoRec and foremost (never part of the
# test run). Makes a deterministic image (about a third planted pool files with a manifest, a third zeros,
# the rest random bytes and text), warms the page cache, then times on the same image:
#   brelvox-scan --deep (list only, and list + copy-out), photorec /cmd (JPEG only, everything),
#   foremost -q (jpg, all)
# with wall time, MB/s, peak memory and recall against the manifest; then counts instructions of our
# scan with callgrind on 64 MiB images (mixed, zeros, random, text) and 32 MiB images with 32 open guesses.
#
#   bench/raw/run-bench.sh [--driver PATH] [--work DIR] [--size 2G] [--no-callgrind]
#   bench/raw/run-bench.sh --smoke [--driver PATH] [--work DIR]
#
# The peers are Debian packages (testdisk, foremost; valgrind for the counts); run as root the script
# installs what is missing with apt-get. They are run as programs only.
#
# --smoke is the test run's check that the benchmark still works: a 4 MiB image planted with the JPEGs
# of the committed carving fixture, the driver run as the benchmark runs it (list to /dev/null, list
# and copy-out) and the recall, which must be whole; no peers, no timings, no callgrind.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
driver="$here/../../build/tools/brelvox-scan"
work=/tmp/brelvox-bench-raw
size=2G
callgrind=1
smoke=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --smoke) smoke=1; shift ;;
        --driver) driver=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --no-callgrind) callgrind=0; shift ;;
        *) echo "usage: run-bench.sh [--smoke] [--driver PATH] [--work DIR] [--size 2G] [--no-callgrind]" >&2; exit 2 ;;
    esac
done
driver="$(realpath "$driver")"
[[ -x $driver ]] || { echo "no driver at $driver (build brelvox-scan first)" >&2; exit 1; }

if [[ $smoke == 1 ]]; then
    fixture="$here/../../tests/fixtures/raw"
    smoke_dir="$work/smoke"
    rm -rf "$smoke_dir"
    mkdir -p "$smoke_dir/pool"
    xz -dc "$fixture/carving.img.xz" >"$smoke_dir/carving.img"
    # The pool: every planted JPEG of the fixture, cut out at its sector with its size.
    python3 - "$fixture/carving-manifest.tsv" "$smoke_dir/carving.img" "$smoke_dir/pool" <<'PY'
import os, sys
manifest, image, pool = sys.argv[1:4]
data = open(image, 'rb').read()
rows = [l.split('\t') for l in open(manifest) if l.strip() and not l.startswith('#')]
rows = [row for row in rows if row[1] == 'JPG']
for n, row in enumerate(rows):
    start, size = int(row[0]) * 512, int(row[2])
    with open(os.path.join(pool, 'p%03d-f0.jpg' % n), 'wb') as f:
        f.write(data[start:start + size])
PY
    image="$smoke_dir/smoke.img"
    "$here/make-image.py" --pool "$smoke_dir/pool" --size 4M --out "$image" >/dev/null
    # run_smoke NAME COMMAND...: the command must succeed; its last line of errors is shown when not.
    run_smoke() {
        local name=$1
        shift
        "$@" >"$smoke_dir/$name.out" 2>"$smoke_dir/$name.err" ||
            { echo "smoke: $name failed: $(tail -n 1 "$smoke_dir/$name.err")" >&2; exit 1; }
    }
    run_smoke list "$driver" --deep --list /dev/null "$image"
    run_smoke recover "$driver" --deep --list /dev/null --recover "$smoke_dir/out" "$image"
    line=$("$here/recall.py" "$image.manifest.tsv" brelvox "$smoke_dir/out")
    echo "smoke: $line"
    read -r _ planted _ _ _ whole _ <<<"$line"
    [[ $planted -gt 0 && $whole == "$planted" ]] || { echo "smoke: not every planted JPEG came back whole" >&2; exit 1; }
    rm -rf "$smoke_dir"
    exit 0
fi

need=()
# PhotoRec (testdisk) is the peer of the per-type recall table; without it (and not root to install it)
# the table says "peer not installed" and the rest runs.
if ! command -v photorec >/dev/null && [[ $(id -u) == 0 ]]; then need+=(testdisk); fi
command -v foremost >/dev/null || need+=(foremost)
[[ $callgrind == 0 ]] || command -v valgrind >/dev/null || need+=(valgrind)
command -v exiftool >/dev/null || need+=(libimage-exiftool-perl)
[[ -x /usr/bin/time ]] || need+=(time)
if [[ ${#need[@]} -gt 0 ]]; then
    [[ $(id -u) == 0 ]] || { echo "missing packages: ${need[*]}" >&2; exit 1; }
    apt-get install -y -q "${need[@]}" >/dev/null
fi

mkdir -p "$work"
cd "$work"
"$here/make-pool.sh" "$work/pool" >/dev/null
image="$work/bench-$size.img"
[[ -f $image && -f $image.manifest.tsv ]] || "$here/make-image.py" --pool pool --size "$size" --out "$image"
bytes=$(stat -c %s "$image")
planted=$(grep -vc '^#' "$image.manifest.tsv")

. "$here/../support/timed-runs.sh"

echo "image: $image, $bytes bytes, $planted planted files; $(nproc) cores; $(date -u +%FT%TZ)"
echo
# The tree builder pauses 1 s when it first publishes each result tree (the raw tree and the camera
# tree), and the ring and buffers are set up once: a fixed cost of about 2 s per run. The marginal rate
# between a 64 MiB image of the same kind and the big one shows the scan's own speed (best of 3 each).
small="$work/cg-mixed.img"
[[ -f $small ]] || "$here/make-image.py" --pool pool --size 64M --profile mixed --out "$small" >/dev/null
best() {  # best wall time of 3 list-only scans of $1
    local b=999999 t
    for _ in 1 2 3; do
        warm "$1"
        /usr/bin/time -f '%e' -o "$work/best.time" "$driver" --deep --list "$work/best.list" "$1" >/dev/null 2>&1
        t=$(cat "$work/best.time")
        b=$(echo "if ($t < $b) $t else $b" | bc -l)
    done
    echo "$b"
}
t_small=$(best "$small")
t_big=$(best "$image")
small_bytes=$(stat -c %s "$small")

run brelvox-scan-list out-list "$driver" --deep --list "$work/brelvox.list" "$image"
run brelvox-scan-recover out-brelvox "$driver" --deep --list "$work/recover.list" --recover "$work/out-brelvox/o" "$image"
# PhotoRec writes its log in the current folder: run it from its output folder.
peer=0
command -v photorec >/dev/null && peer=1
if [[ $peer == 1 ]]; then
    run photorec-jpg out-pr-jpg photorec_in out-pr-jpg partition_none,fileopt,everything,disable,jpg,enable,options,paranoid,search
    run photorec-everything out-pr-all photorec_in out-pr-all partition_none,fileopt,everything,enable,options,paranoid,search
fi
run foremost-q-jpg out-fm-jpg foremost -q -t jpg -i "$image" -o "$work/out-fm-jpg/o"
run foremost-q-all out-fm-all foremost -q -t all -i "$image" -o "$work/out-fm-all/o"
echo
printf '%-28s %8.2f s (64 MiB: %.2f s): marginal rate %.1f MB/s, the fixed cost about %.2f s\n' \
    "brelvox-scan-list best of 3" "$t_big" "$t_small" \
    "$(echo "($bytes - $small_bytes) / ($t_big - $t_small) / 1000000" | bc -l)" \
    "$(echo "$t_small - $small_bytes * ($t_big - $t_small) / ($bytes - $small_bytes)" | bc -l)"
# The end phase sizes the records left without a size (given-up guesses, pending files) from the device.
echo "brelvox-scan $("$here/end-phase.py" "$driver" --deep --list /dev/null "$image")"
echo
echo "speed ratio (peer wall / our wall, > 1: we are faster)"
for peer in photorec-jpg photorec-everything foremost-q-jpg foremost-q-all; do
    [[ -n ${wall[$peer]:-} ]] || continue
    printf '  %-22s vs brelvox-scan-recover %6.2f   vs brelvox-scan-list %6.2f\n' "$peer" \
        "$(echo "${wall[$peer]} / ${wall[brelvox-scan-recover]}" | bc -l)" \
        "$(echo "${wall[$peer]} / ${wall[brelvox-scan-list]}" | bc -l)"
done
echo
echo "recall against the manifest (whole: the file begins with all its planted bytes; exact: same bytes)"
printf '  %-22s %s\n' brelvox-scan "$("$here/recall.py" "$image.manifest.tsv" brelvox out-brelvox)"
if [[ $peer == 1 ]]; then
    printf '  %-22s %s\n' photorec-jpg "$("$here/recall.py" "$image.manifest.tsv" photorec out-pr-jpg)"
    printf '  %-22s %s\n' photorec-everything "$("$here/recall.py" "$image.manifest.tsv" photorec out-pr-all)"
fi
printf '  %-22s %s\n' foremost-q-jpg "$("$here/recall.py" "$image.manifest.tsv" foremost out-fm-jpg)"
printf '  %-22s %s\n' foremost-q-all "$("$here/recall.py" "$image.manifest.tsv" foremost out-fm-all)"

echo
# Exact recall per type, ours against PhotoRec's (everything), and the bytes the deep scan wrote against
# the bytes of the files the image holds.
echo "exact recall per type (brelvox-scan / photorec-everything)"
"$here/recall.py" --compare "$image.manifest.tsv" brelvox out-brelvox \
    "$([[ $peer == 1 ]] && echo out-pr-all || echo -)"
written=$(find out-brelvox -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
held=$(awk -F'\t' '!/^#/ {s += $2} END {print s + 0}' "$image.manifest.tsv")
printf 'bytes written by brelvox-scan --deep --recover: %d for %d bytes of planted files (%.3fx)\n' \
    "$written" "$held" "$(echo "$written / $held" | bc -l)"

echo
# 64 interleaved MP3 fragments: speed, peak memory and the files the false frame starts became.
stress="$work/stress-mp3.img"
[[ -f $stress ]] || "$here/make-image.py" --pool pool --size 256M --profile mp3-stress --out "$stress" >/dev/null
warm "$stress"
/usr/bin/time -f '%e %M' -o "$work/stress.time" "$driver" --deep --list "$work/stress.list" "$stress" \
    >/dev/null 2>"$work/stress.err"
read -r w rss <"$work/stress.time"
# The file-sector map holds every start the raw search took, the false frame starts included.
starts=$(grep -o 'file sector map size = [0-9]*' "$work/stress.err" | grep -o '[0-9]*$' || echo '?')
printf '%-28s %8.2f s %9.1f MB/s %8.1f MiB peak  %d MP3 files listed  %s starts in the file-sector map\n' \
    "mp3-stress 256 MiB" "$w" "$(echo "$(stat -c %s "$stress") / $w / 1000000" | bc -l)" "$(echo "$rss / 1024" | bc -l)" \
    "$(grep -ci '\.mp3' "$work/stress.list" || true)" "$starts"

if [[ $callgrind == 1 ]]; then
    echo
    echo "callgrind instruction counts of brelvox-scan --deep (whole process, and the per-sector search)"
    for profile in mixed:64M zeros:64M random:64M text:64M guesses:32M guesses-zeros:32M mp3-stress:32M; do
        kind=${profile%%:*}
        sz=${profile##*:}
        img="$work/cg-$kind.img"
        [[ -f $img ]] || "$here/make-image.py" --pool pool --size "$sz" --profile "$kind" --out "$img" >/dev/null
        valgrind --tool=callgrind --callgrind-out-file="$work/cg-$kind.out" "$driver" --deep --list "$work/cg.list" "$img" \
            >/dev/null 2>"$work/cg-$kind.err"
        total=$(grep -o 'Collected : [0-9]*' "$work/cg-$kind.err" | grep -o '[0-9]*$')
        sectors=$(($(stat -c %s "$img") / 512))
        # The search loop's own cost: AnalyzeSectors less the block copies it calls (FinishBlock and
        # the device read; other searchers read the device too, so the callees are taken from its tree).
        read -r analyse finish readcost guesses < <(callgrind_annotate --inclusive=yes --tree=calling \
            "$work/cg-$kind.out" 2>/dev/null | awk '
            /\* .*CRAWSearchController::AnalyzeSectors\(long, long\) \[/ { inb = 1; gsub(",", "", $1); a = $1; next }
            inb && /^ *$/ { inb = 0 }
            inb && />.*FinishBlock/ { gsub(",", "", $1); f = $1 }
            inb && />.*ReadSector/ { gsub(",", "", $1); r = $1 }
            inb && />.*CalcRawFileSize/ { gsub(",", "", $1); g = $1 }
            END { print a + 0, f + 0, r + 0, g + 0 }')
        printf '  %-14s %5s  total %13s Ir  sector loop %7.1f Ir/sector (of which open guesses %7.1f)  block copies %5.2f Ir/byte\n' \
            "$kind" "$sz" "$total" "$(echo "(${analyse:-0} - ${finish:-0} - ${readcost:-0}) / $sectors" | bc -l)" \
            "$(echo "${guesses:-0} / $sectors" | bc -l)" "$(echo "(${finish:-0} + ${readcost:-0}) / ($sectors * 512)" | bc -l)"
    done
fi
