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
# Streams walked packet by packet: FLV, MPEG program and transport streams (188- and 192-byte packets),
# Ogg, RealMedia audio, ASF with video and audio (WMV) or audio only (WMA) and AAC in ADTS frames, by
# ffmpeg from its test pattern and tone (1 to 3 seconds).
streams=("flv|flv|" "mpg|mpeg|" "ogg|ogg|-vn" "rm|rm|-vn" "wmv|asf|" "wma|asf|-vn" "ts|mpegts|"
         "m2ts|mpegts|-mpegts_m2ts_mode 1" "aac|adts|-vn")
for seed in $(seq 1 18); do
    IFS='|' read -r ext format options <<<"${streams[$((seed % ${#streams[@]}))]}"
    seconds=$((1 + seed % 3))
    # shellcheck disable=SC2086
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=duration=$seconds:size=320x240:rate=25" \
        -f lavfi -i "sine=duration=$seconds:frequency=$((300 + seed * 37))" $options \
        -fflags +bitexact -flags +bitexact -f "$format" "$pool/$(printf 's%03d' "$seed").$ext"
done
