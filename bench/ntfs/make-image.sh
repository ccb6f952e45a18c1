#!/usr/bin/env bash
# Makes the benchmark's NTFS image: FILES small files in folders of 200, written through ntfs-3g, then
# deletes one folder in 25 (its records stay in the table, not in use). Needs root and FUSE; installs
# ntfs-3g when missing. Usage: make-image.sh IMAGE [FILES]
set -euo pipefail
image=$1
files=${2:-100000}
per=200
[[ $(id -u) -eq 0 ]] || { echo "run as root (FUSE mount)" >&2; exit 1; }
command -v mkntfs >/dev/null || apt-get install -y -qq ntfs-3g >/dev/null
mnt=$(mktemp -d)
trap 'mountpoint -q "$mnt" && umount "$mnt"; rmdir "$mnt"' EXIT
# One 1 KiB record per file and folder, twice over, and room for the data.
mib=$(( files * 3 / 1024 + 64 ))
rm -f "$image"
truncate -s "${mib}M" "$image"
mkntfs -F -Q -q -L BENCH "$image" >/dev/null 2>&1
ntfs-3g "$image" "$mnt"
python3 - "$mnt" "$files" "$per" <<'PY'
import os, shutil, sys
root, files, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    d = os.path.join(root, 'tree', 'folder %04d' % (i // per))
    if i % per == 0:
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'a file with a long name %06d.txt' % i), 'w') as f:
        f.write('content of file %d\n' % i)
folders = (files + per - 1) // per
for i in range(0, folders, 25):
    shutil.rmtree(os.path.join(root, 'tree', 'folder %04d' % i))
PY
umount "$mnt"
