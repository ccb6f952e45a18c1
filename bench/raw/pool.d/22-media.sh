# 40 MP3s made by lame from ffmpeg's test signals (CBR and VBR, 2 to 8 seconds) tagged by id3v2 and eyeD3
# (ID3v1 only, ID3v2.3 and v2.4 with artist and title, some with a cover picture, some untagged), and
# box media made by ffmpeg from its test pattern: MP4, MOV, 3GP, M4A and M4V of 1 to 4 seconds.
need lame id3v2 eyed3 ffmpeg
"$CONVERT" -size 64x64 gradient:orange-purple -quality 80 "$pool/_cover.jpg"
for seed in $(seq 1 40); do
    out=$(printf '%s/m%03d.mp3' "$pool" "$seed")
    seconds=$((2 + seed % 7))
    ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=$((200 + seed * 37)):duration=$seconds:sample_rate=44100" \
        -f lavfi -i "anoisesrc=d=$seconds:c=pink:r=44100:a=0.2:seed=$seed" -filter_complex amix=inputs=2 -ac 2 \
        -fflags +bitexact -flags +bitexact "$pool/_m.wav"
    case $((seed % 3)) in
        0) lame --quiet -b $((96 + seed % 4 * 32)) "$pool/_m.wav" "$out" ;;
        1) lame --quiet -V $((seed % 7)) "$pool/_m.wav" "$out" ;;
        2) lame --quiet --abr 112 "$pool/_m.wav" "$out" ;;
    esac
    artist="Artist $((seed % 9))"
    title="Title $seed"
    case $((seed % 5)) in
        0) ;;
        1) id3v2 -1 -a "$artist" -t "$title" "$out" >/dev/null ;;
        2) id3v2 -a "$artist" -t "$title" "$out" >/dev/null ;;
        3) eyeD3 -Q --no-color --to-v2.3 -a "$artist" -t "$title" --add-image "$pool/_cover.jpg:FRONT_COVER" "$out" >/dev/null ;;
        4) eyeD3 -Q --no-color -a "$artist" -t "$title" "$out" >/dev/null ;;
    esac
done
formats=("mp4|mp4|-c:v mpeg4 -c:a aac" "mov|mov|-c:v mpeg4 -c:a aac" "3gp|3gp|-c:v mpeg4 -c:a aac -ar 8000"
         "m4v|ipod|-c:v libx264 -threads 1 -c:a aac" "m4a|ipod|-vn -c:a aac")
for seed in $(seq 1 20); do
    IFS='|' read -r ext format options <<<"${formats[$((seed % ${#formats[@]}))]}"
    seconds=$((1 + seed % 4))
    # shellcheck disable=SC2086
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=$((64 + seed * 8))x$((48 + seed * 6)):rate=10:duration=$seconds" \
        -f lavfi -i "sine=frequency=$((300 + seed * 20)):duration=$seconds:sample_rate=22050" -ac 1 \
        -fflags +bitexact -flags +bitexact -map_metadata -1 $options -f "$format" "$(printf '%s/b%03d.%s' "$pool" "$seed" "$ext")"
done
rm -f "$pool/_m.wav"
