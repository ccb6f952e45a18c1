# Sourced by the benchmark scripts: timed runs of our driver and of the peers on one image, page cache
# warm. Needs the variables work (the output folder) and image (the image scanned, of `bytes` bytes).
#   warm FILE                      reads a file into the page cache
#   run NAME OUTDIR COMMAND...     times the command (photorec_in DIR OPTIONS runs PhotoRec from DIR),
#                                  prints wall s, MB/s, peak RSS; the wall time is left in wall[NAME]

warm() { cat "$1" >/dev/null; }
# PhotoRec writes its log in the current folder: run it from its output folder.
photorec_in() { cd "$work/$1" && exec photorec /log /d "$work/$1/recup" /cmd "$image" "$2"; }
export -f photorec_in
export work image
declare -A wall
run() {
    local name=$1 out=$2
    shift 2
    rm -rf "$out"
    mkdir -p "$out"
    warm "$image"
    local command=("$@")
    [[ $1 == photorec_in ]] && command=(bash -c 'photorec_in "$@"' _ "${@:2}")
    /usr/bin/time -f '%e %M %U %S' -o "$work/$name.time" "${command[@]}" >"$work/$name.stdout" 2>"$work/$name.stderr" || {
        echo "$name failed: see $work/$name.stderr" >&2
        return 1
    }
    read -r w rss user sys <"$work/$name.time"
    wall[$name]=$w
    printf '%-28s %8.2f s %9.1f MB/s %8.1f MiB peak  (user %s s, sys %s s)\n' "$name" "$w" \
        "$(echo "$bytes / $w / 1000000" | bc -l)" "$(echo "$rss / 1024" | bc -l)" "$user" "$sys"
}
