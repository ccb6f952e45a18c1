#!/usr/bin/env bash
# Makes the deep FAT benchmark's disk: bench/raw's mixed image (planted files, zeros, random bytes and
# text) with the FAT32 volume of make-image.sh (FILES files, some folders deleted) written at 1 MiB over
# it, and the first sector (the MBR) zeroed, so the volume can only be found by a deep search.
# Usage: make-deep-disk.sh IMAGE [FILES [SIZE]]   (defaults: 100000 files, 2G); needs what
# bench/raw/make-pool.sh, bench/raw/make-image.py and make-image.sh need.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
image=${1:?usage: make-deep-disk.sh IMAGE [FILES [SIZE]]}
files=${2:-100000}
size=${3:-2G}
work="$(dirname "$image")"
mkdir -p "$work"
"$here/../raw/make-pool.sh" "$work/pool" >/dev/null
"$here/../raw/make-image.py" --pool "$work/pool" --size "$size" --out "$image" >/dev/null
"$here/make-image.sh" "$work/volume.img" "$files"
dd if="$work/volume.img" of="$image" bs=1M seek=1 conv=notrunc status=none
dd if=/dev/zero of="$image" bs=512 count=1 conv=notrunc status=none
rm -f "$work/volume.img"
