#!/usr/bin/env bash
# Makes the preview benchmark's FAT32 image: COPIES copies of every JPEG of JPEG_DIR, copy N in folder
# cN, then deletes the pictures (their entries and clusters stay, as after a mistaken delete), so a quick
# scan lists every one of them. Needs dosfstools and mtools; nothing is mounted.
# Usage: make-previews-image.sh IMAGE JPEG_DIR COPIES
set -euo pipefail
image=${1:?usage: make-previews-image.sh IMAGE JPEG_DIR COPIES}
pool=${2:?usage: make-previews-image.sh IMAGE JPEG_DIR COPIES}
copies=${3:?usage: make-previews-image.sh IMAGE JPEG_DIR COPIES}
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
shopt -s nullglob
jpegs=("$pool"/*.jpg)
[[ ${#jpegs[@]} -gt 0 ]] || { echo "no .jpg in $pool" >&2; exit 1; }
bytes=$(du -cb "${jpegs[@]}" | tail -1 | cut -f1)
# The pictures with a tenth to spare, 4 KiB clusters when FAT32 can have its 65,525 of them, else 512 bytes.
kib=$(( bytes * copies / 1024 * 11 / 10 + 40000 ))
cluster=1
(( kib >= 300000 )) && cluster=8
rm -f "$image"
mkfs.fat -C -F 32 -s "$cluster" -n PICTURES -i 5A5A1234 --invariant "$image" "$kib" >/dev/null
for (( n = 0; n < copies; n++ )); do
    mmd -i "$image" "::/c$n"
    mcopy -i "$image" "${jpegs[@]}" "::/c$n/"
done
for (( n = 0; n < copies; n++ )); do
    mdel -i "$image" "::/c$n/*"
done
echo "$image: $(( ${#jpegs[@]} * copies )) deleted pictures"
