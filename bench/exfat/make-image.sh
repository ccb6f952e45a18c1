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
python3 "$(dirname "$0")/../support/make-tree.py" "$stage" "$files" "$per"
# 512-byte clusters: one cluster per file plus the folders, with room to spare.
bytes=$(( (files * 3 / 2 + 70000) * 512 ))
rm -f "$image"
truncate -s "$bytes" "$image"
mkfs.exfat -c 512 -L BENCH "$image" >/dev/null
loop=$(losetup -f --show "$image")
mount.exfat-fuse "$loop" "$mnt"
cp -r "$stage/tree" "$mnt/"
step=$(( folders / 25 > 0 ? folders / 25 : folders ))  # a small image (the smoke run) loses its first folder only
for i in $(seq 0 "$step" $(( folders - 1 ))); do
  rm -r "$(printf '%s/tree/folder %04d' "$mnt" "$i")"
done
umount "$mnt"
