#!/usr/bin/env bash
# Makes the deep NTFS benchmark's disk: SIZE (2 GiB) of bench/raw's mixed content (planted pool files,
# zeros, random bytes, text), an MBR (sfdisk) and three NTFS volumes of 200 MiB placed over it at 1 MiB,
# 700 MiB and 1400 MiB, holding FILES small files in all in folders of 200, written through ntfs-3g;
# one folder in 25 is deleted. Needs root and FUSE; installs fdisk and ntfs-3g when missing (the pool's
# families install theirs). Usage: make-deep-image.sh IMAGE [FILES] [SIZE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
image=$1
files=${2:-100000}
size=${3:-2G}
per=200
[[ $(id -u) -eq 0 ]] || { echo "run as root (FUSE mount)" >&2; exit 1; }
command -v mkntfs >/dev/null || apt-get install -y -qq ntfs-3g >/dev/null
command -v sfdisk >/dev/null || apt-get install -y -qq fdisk >/dev/null
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT
mkdir "$work/mnt"

pool=${BRELVOX_BENCH_POOL:-$(dirname "$image")/raw-pool}
"$here/../raw/make-pool.sh" "$pool" >/dev/null
"$here/../raw/make-image.py" --pool "$pool" --size "$size" --out "$image" >/dev/null

# volume FILE FIRST COUNT START: a 200 MiB volume for a partition at sector START with files FIRST..
volume() {
  truncate -s 200M "$1"
  mkntfs -F -Q -q -p "$4" -H 255 -S 63 -L "BENCH$4" "$1" >/dev/null 2>&1
  ntfs-3g "$1" "$work/mnt"
  python3 - "$work/mnt" "$2" "$3" "$per" <<'PY'
import os, shutil, sys
root, first, count, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
for i in range(first, first + count):
    d = os.path.join(root, 'tree', 'folder %04d' % (i // per))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'a file with a long name %06d.txt' % i), 'w') as f:
        f.write('content of file %d\n' % i)
folders = sorted(os.listdir(os.path.join(root, 'tree')))
for name in folders[::25]:
    shutil.rmtree(os.path.join(root, 'tree', name))
PY
  umount "$work/mnt"
}

starts=(2048 1433600 2867200)
third=$(( (files + 2) / 3 ))
for i in 0 1 2; do
  first=$(( i * third ))
  count=$(( i == 2 ? files - 2 * third : third ))
  volume "$work/v$i.img" "$first" "$count" "${starts[$i]}"
done
sfdisk -q "$image" <<EOF
label: dos
start=${starts[0]}, size=409600, type=7
start=${starts[1]}, size=409600, type=7
start=${starts[2]}, size=409600, type=7
EOF
for i in 0 1 2; do
  dd if="$work/v$i.img" of="$image" bs=1M seek=$(( starts[i] / 2048 )) conv=notrunc status=none
done
echo "$image: $size, three NTFS volumes of 200 MiB with $files files"
