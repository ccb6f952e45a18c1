#!/usr/bin/env bash
# Recall of the deep FAT scan against fls on a volume of make-image.sh, whose deleted folders' clusters are
# not contiguous: fls lists most of their files under $OrphanFiles by short names only, so each orphan's
# own long name is taken from its content (every file holds "content of file N"), read at the first cluster
# of the entry that fls's address names (as icat reads it; one process per orphan would take minutes).
# Every deleted file
# fls lists, orphan or not, must be listed deleted by `brelvox-scan --deep` with its long name and size,
# wherever the scan puts it (a lost folder's files under DIRn or the lost-files folder); fails below
# 99 % (--min PERCENT).
#
#   bench/fat/deep-recall.sh [--driver PATH] [--work DIR] [--files 10000] [--min 99]
#   bench/fat/deep-recall.sh --smoke [--driver PATH] [--work DIR]   (the test run's check: 1,000 files)
#
# Needs what make-image.sh needs and The Sleuth Kit's fls.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
driver="$here/../../build/tools/brelvox-scan"
work=/tmp/brelvox-bench-fat-recall
files=10000
min=99
while [[ $# -gt 0 ]]; do
    case $1 in
        --smoke) files=1000; shift ;;
        --driver) driver=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --files) files=$2; shift 2 ;;
        --min) min=$2; shift 2 ;;
        *) echo "usage: deep-recall.sh [--smoke] [--driver PATH] [--work DIR] [--files N] [--min PERCENT]" >&2; exit 2 ;;
    esac
done
driver="$(realpath "$driver")"
[[ -x $driver ]] || { echo "no driver at $driver (build brelvox-scan first)" >&2; exit 1; }
command -v fls >/dev/null || { echo "fls is needed (sleuthkit)" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
image="$work/volume.img"
"$here/make-image.sh" "$image" "$files"
fls -r -p -l "$image" >"$work/fls.txt"
"$driver" --deep --list "$work/list.txt" "$image" >/dev/null 2>"$work/scan.err" ||
    { echo "deep scan failed: $(tail -n 1 "$work/scan.err")" >&2; exit 1; }

python3 - "$image" "$work/fls.txt" "$work/list.txt" "$min" <<'PY'
import collections, re, struct, sys
image, fls, listing, minimum = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
data = open(image, 'rb').read()
# The FAT32 layout: fls numbers the entries from 3 at the cluster area's first sector, a sector's worth each.
sector, per_cluster, reserved, tables = *struct.unpack_from('<HBH', data, 11), data[16]
cluster_area = reserved + tables * struct.unpack_from('<I', data, 36)[0]
def content_of(inode):
    at = (cluster_area + (inode - 3) // (sector // 32)) * sector + (inode - 3) % (sector // 32) * 32
    cluster = struct.unpack_from('<H', data, at + 20)[0] << 16 | struct.unpack_from('<H', data, at + 26)[0]
    start = (cluster_area + (cluster - 2) * per_cluster) * sector
    return data[start:start + 64].decode('latin-1') if cluster >= 2 else ''
# fls -l: "TYPE * INODE:<tab>PATH<tab>4 times<tab>SIZE<tab>UID<tab>GID"; deleted files only.
wanted = collections.Counter()
orphans = 0
for line in open(fls, encoding='utf-8', errors='replace'):
    head, _, rest = line.rstrip('\n').partition('\t')
    kind = head.split()[0]
    if ' * ' not in head + ' ' or not kind.endswith('/r'):
        continue
    fields = rest.split('\t')
    path, size = fields[0], int(fields[5])
    name = path.rsplit('/', 1)[-1]
    if path.startswith('$OrphanFiles/'):
        orphans += 1
        m = re.match(r'content of file (\d+)\n', content_of(int(head.split()[-1].rstrip(':'))))
        if not m:
            continue  # its first cluster reused: no name to look for, counted as missed
        name = 'a file with a long name %06d.txt' % int(m.group(1))
    wanted[(name.lower(), size)] += 1
# The driver's listing: searcher type, path, size, deleted, folder, time.
listed = collections.Counter()
for line in open(listing, encoding='utf-8', errors='replace'):
    f = line.rstrip('\n').split('\t')
    if len(f) >= 5 and f[0] == '32' and f[3] == '1' and f[4] == '0':
        listed[(f[1].rsplit('/', 1)[-1].lower(), int(f[2]))] += 1
total = sum(wanted.values())
found = sum(min(n, listed[k]) for k, n in wanted.items())
percent = 100.0 * found / total if total else 0.0
print('fls deleted files %d (orphans %d); listed by the deep scan with name and size %d: %.2f %%'
      % (total, orphans, found, percent))
sys.exit(0 if total > 0 and percent >= minimum else 1)
PY
