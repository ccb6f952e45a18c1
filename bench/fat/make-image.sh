#!/usr/bin/env bash
# Makes the benchmark's FAT32 image: FILES small files in folders of at most 200 entries, then deletes a
# few folders (their entries stay as deleted entries). Needs dosfstools and mtools; nothing is mounted.
# Usage: make-image.sh IMAGE [FILES]
set -euo pipefail
image=$1
files=${2:-100000}
per=200
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
# The staged tree (one small file each) lives in memory when it can: on a busy disk, writing and removing
# 100,000 small files took longer than copying them into the volume.
stage=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$stage"' EXIT
folders=$(( (files + per - 1) / per ))
python3 "$(dirname "$0")/../support/make-tree.py" "$stage" "$files" "$per"
# 512-byte clusters: one cluster per file plus the folders, with room to spare.
kib=$(( (files * 3 / 2 + 70000) / 2 ))
rm -f "$image"
mkfs.fat -C -F 32 -s 1 -n BENCH -i 1234ABCD --invariant "$image" "$kib" >/dev/null
mcopy -s -i "$image" "$stage/tree" ::/
step=$(( folders / 25 > 0 ? folders / 25 : folders ))  # a small image (the smoke run) loses its first folder only
for i in $(seq 0 "$step" $(( folders - 1 ))); do
  mdeltree -i "$image" "$(printf '::/tree/folder %04d' "$i")"
done
