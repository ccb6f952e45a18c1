#!/usr/bin/env bash
# Makes the benchmark's exFAT image: FILES small files in folders of at most 200 entries, written through
# exfat-fuse on a loop device, then deletes a few folders (their entry sets stay as deleted sets).
# Needs root, loop devices and /dev/fuse; installs exfatprogs and exfat-fuse when missing.
# Usage: make-image.sh IMAGE [FILES]
set -euo pipefail
image=$1
files=${2:-100000}
per=200
[[ $(id -u) -eq 0 ]] || { echo "run as root (loop device and FUSE)" >&2; exit 1; }
for p in exfatprogs exfat-fuse; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
export LC_ALL=C.UTF-8
stage=$(mktemp -d)
mnt=$(mktemp -d)
loop=""
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  [[ -n $loop ]] && losetup -d "$loop"
  rm -rf "$stage" "$mnt"
}
trap cleanup EXIT
folders=$(( (files + per - 1) / per ))
python3 - "$stage" "$files" "$per" <<'PY'
import os, sys
root, files, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    d = os.path.join(root, 'tree', 'folder %04d' % (i // per))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'a file with a long name %06d.txt' % i), 'w') as f:
        f.write('content of file %d\n' % i)
PY
# 512-byte clusters: one cluster per file plus the folders, with room to spare.
bytes=$(( (files * 3 / 2 + 70000) * 512 ))
rm -f "$image"
truncate -s "$bytes" "$image"
mkfs.exfat -c 512 -L BENCH "$image" >/dev/null
loop=$(losetup -f --show "$image")
mount.exfat-fuse "$loop" "$mnt"
cp -r "$stage/tree" "$mnt/"
for i in $(seq 0 $(( folders / 25 )) $(( folders - 1 ))); do
  rm -r "$(printf '%s/tree/folder %04d' "$mnt" "$i")"
done
umount "$mnt"
