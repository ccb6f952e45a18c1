#!/usr/bin/env bash
# Makes the deep exFAT benchmark's disk: an exFAT volume of SIZE (4 KiB clusters) holding FILES small files
# in folders of 200, written through exfat-fuse on a loop device, a few folders deleted, placed at 1 MiB
# on a disk with no partition table, so the volume can only be found by a deep search.
# Needs root, loop devices and /dev/fuse; installs exfatprogs and exfat-fuse when missing.
# Usage: make-deep-disk.sh IMAGE [FILES [SIZE]]   (defaults: 100000 files, 2G)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
image=${1:?usage: make-deep-disk.sh IMAGE [FILES [SIZE]]}
files=${2:-100000}
size=${3:-2G}
per=200
[[ $(id -u) -eq 0 ]] || { echo "run as root (loop device and FUSE)" >&2; exit 1; }
for p in exfatprogs exfat-fuse; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
export LC_ALL=C.UTF-8
work="$(dirname "$image")"
mkdir -p "$work"
stage=$(mktemp -d "$work/stage.XXXXXX")
mnt=$(mktemp -d)
loop=""
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  [[ -n $loop ]] && losetup -d "$loop"
  rm -rf "$stage" "$mnt"
}
trap cleanup EXIT
python3 "$here/../support/make-tree.py" "$stage" "$files" "$per"
rm -f "$image"
truncate -s 1M "$image"
truncate -s "+$size" "$image"
loop=$(losetup -o 1048576 -f --show "$image")
mkfs.exfat -c 4K -L DEEPBENCH "$loop" >/dev/null
mount.exfat-fuse "$loop" "$mnt"
cp -r "$stage/tree" "$mnt/"
folders=$(( (files + per - 1) / per ))
step=$(( folders / 25 > 0 ? folders / 25 : folders ))
for i in $(seq 0 "$step" $(( folders - 1 ))); do
  rm -r "$(printf '%s/tree/folder %04d' "$mnt" "$i")"
done
umount "$mnt"
losetup -d "$loop"
loop=""
