# 60 real JPEGs (ImageMagick photos, exiftool tags) in five forms: JFIF + Exif camera block with
# thumbnail, Exif only, progressive, baseline, no APP0 at all; sizes from 320x240 to 3264x2448.
need imagemagick libimage-exiftool-perl
sizes=(320x240 640x480 800x600 1024x768 1280x960 1600x1200 2048x1536 2592x1944 3264x2448)
qualities=(72 80 85 88 92)
cameras=("Acme|Acme X1" "Nikon|Coolpix P1" "Canon|PowerShot A95" "Sony|Cyber shot W1")
"$CONVERT" -size 160x120 xc:gray50 +noise Random -quality 70 "$pool/_thumb.jpg"

for seed in $(seq 1 60); do
    size=${sizes[$((seed % ${#sizes[@]}))]}
    quality=${qualities[$((seed % ${#qualities[@]}))]}
    form=$((seed % 5))
    out=$(printf '%s/p%03d-f%d.jpg' "$pool" "$seed" "$form")
    opts=()
    [[ $form == 2 ]] && opts+=(-interlace JPEG)
    [[ $form -ge 2 ]] && opts+=(-strip)
    "$CONVERT" -seed "$seed" -size "$size" plasma:fractal -attenuate 0.6 +noise Gaussian -quality "$quality" \
        "${opts[@]}" "$out"
    IFS='|' read -r make model <<<"${cameras[$((seed % ${#cameras[@]}))]}"
    date=$(printf '20%02d:%02d:%02d 1%d:2%d:3%d' $((10 + seed % 12)) $((1 + seed % 12)) $((1 + seed % 28)) \
        $((seed % 10)) $((seed % 10)) $((seed % 10)))
    case $form in
        0) exiftool -q -overwrite_original -Make="$make" -Model="$model" -DateTimeOriginal="$date" \
               "-ThumbnailImage<=$pool/_thumb.jpg" "$out" ;;
        1) exiftool -q -overwrite_original -JFIF:all= -Make="$make" -Model="$model" -DateTimeOriginal="$date" \
               "-ThumbnailImage<=$pool/_thumb.jpg" "$out" ;;
        4) exiftool -q -overwrite_original -JFIF:all= "$out" ;;
    esac
done
