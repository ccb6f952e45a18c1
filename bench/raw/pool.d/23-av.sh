# Audio and video sized by their header: WAV, AIFF and Sun audio by sox (0.5 to 4 seconds), AVI,
# Matroska and Flash by ffmpeg from its test pattern (1 to 3 seconds).
need sox ffmpeg
for seed in $(seq 1 12); do
    seconds=$(awk "BEGIN { print 0.5 + $seed * 0.3 }")
    for ext in wav aiff au; do
        sox -R -D -r 22050 -c $((1 + seed % 2)) -n -b 16 "$pool/$(printf 'a%03d' "$seed").$ext" \
            synth "$seconds" sine $((200 + seed * 41))
    done
done
formats=("avi|avi|-c:v mpeg4" "mkv|matroska|-c:v mpeg4" "swf|swf|")
for seed in $(seq 1 12); do
    IFS='|' read -r ext format options <<<"${formats[$((seed % ${#formats[@]}))]}"
    # shellcheck disable=SC2086
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=duration=$((1 + seed % 3)):size=320x240:rate=15" $options \
        -fflags +bitexact -flags +bitexact -f "$format" "$pool/$(printf 'v%03d' "$seed").$ext"
done
