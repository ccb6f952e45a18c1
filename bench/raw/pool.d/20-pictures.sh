# Pictures and camera raws: ImageMagick TIFFs retagged by exiftool as the raw types their make names
# (NEF, CR2, ARW, SR2, PEF, ORF, SRW, KDC, DCR, ERF, 3FR, MEF, RW2, DNG), plain TIFFs (both byte orders,
# tiled, several pages), Panasonic and Fuji files for the device fallback; ImageMagick PNG, GIF, BMP3,
# ICO, CUR, PSD; png2icns ICNS; LibreOffice Draw EMF and WMF; hand-made PSP, X3F, MRW, WPG and CRW
# (the corpus's pictures.py). Plasma pictures of 160x120 to 1200x900.
need imagemagick libimage-exiftool-perl icnsutils libreoffice-draw
pics="$here/../../tests/fixtures/raw/corpus/pictures.py"

plasma() {  # plasma OUT WxH SEED [convert options...]; OUT may name a format first ("BMP3:x.bmp")
    local out=$1 size=$2 seed=$3 path
    shift 3
    path="$pool/$out"
    [[ $out == *:* ]] && path="${out%%:*}:$pool/${out#*:}"
    "$CONVERT" -seed "$seed" -size "$size" plasma:fractal -depth 8 -strip "$@" "$path"
}

sizes=(160x120 320x240 640x480 1200x900)
cameras=("NIKON CORPORATION|NIKON D200|nef" "Canon|Canon EOS 20D|cr2" "SONY|DSLR-A700|arw" "SONY|DSC-R1|sr2"
    "PENTAX Corporation|PENTAX K10D|pef" "OLYMPUS IMAGING CORP.|E-500|orf" "SAMSUNG|NX10|srw"
    "EASTMAN KODAK COMPANY|KODAK Z980|kdc" "Kodak|DCS Pro SLR/n|dcr" "SEIKO EPSON CORP.|R-D1|erf"
    "Hasselblad|H3D-39|3fr" "Mamiya-OP Co.,Ltd.|ZD|mef" "Panasonic|DMC-FZ50|rw2" "Acme|Acme D1|dng")
seed=100
for camera in "${cameras[@]}"; do
    IFS='|' read -r make model ext <<<"$camera"
    for size in "${sizes[@]:1:2}"; do
        seed=$((seed + 1))
        out="c$seed.$ext"
        plasma "_$seed.tif" "$size" "$seed"
        extra=()
        [[ $ext == dng ]] && extra=(-DNGVersion=1.4.0.0)
        # exiftool writes by the name's extension: a TIFF name, then the raw one.
        exiftool -q -overwrite_original -Make="$make" -Model="$model" -ModifyDate="2014:0$((seed % 9 + 1)):11 12:13:14" \
            "${extra[@]}" "$pool/_$seed.tif"
        mv "$pool/_$seed.tif" "$pool/$out"
    done
done
# Plain TIFFs: little- and big-endian, tiled, three pages.
for size in "${sizes[@]}"; do
    seed=$((seed + 1))
    plasma "t$seed-le.tif" "$size" "$seed"
    plasma "t$seed-be.tif" "$size" "$seed" -define tiff:endian=msb
    plasma "t$seed-tiled.tif" "$size" "$seed" -define tiff:tile-geometry=64x64
done
"$CONVERT" -seed 7 -size 320x240 plasma:fractal plasma:fractal plasma:fractal -depth 8 -strip "$pool/t-pages.tif"
# Panasonic headers and Fuji RAF, sized by the device fallback.
for size in "${sizes[@]:1:2}"; do
    seed=$((seed + 1))
    plasma "_$seed.tif" "$size" "$seed"
    for form in "DMC-FZ8|rw2" "DC-LX100|raw"; do
        IFS='|' read -r model ext <<<"$form"
        cp "$pool/_$seed.tif" "$pool/_$seed-$ext.tif"
        exiftool -q -overwrite_original -Make=Panasonic -Model="$model" "$pool/_$seed-$ext.tif"
        mv "$pool/_$seed-$ext.tif" "$pool/p$seed.$ext"
        python3 "$pics" iiu "$pool/p$seed.$ext"
    done
    plasma "_$seed.jpg" 160x120 "$seed" -quality 85
    exiftool -q -overwrite_original -JFIF:all= -Make=FUJIFILM -Model="FinePix S5Pro" \
        -DateTimeOriginal="2014:05:06 07:08:09" "$pool/_$seed.jpg"
    python3 "$pics" raf "$pool/f$seed.raf" "$pool/_$seed.jpg" $((seed * 1000 + 200000)) "$seed"
done

# Pictures by ImageMagick, icnsutils and LibreOffice.
for size in "${sizes[@]}"; do
    seed=$((seed + 1))
    plasma "i$seed.png" "$size" "$seed"
    plasma "i$seed.gif" "$size" "$seed"
    plasma "BMP3:i$seed.bmp" "$size" "$seed"
    plasma "i$seed.psd" "$size" "$seed"
done
for seed in 301 302 303; do
    plasma "PNG32:_$seed-16.png" 16x16 "$seed"
    plasma "PNG32:_$seed-32.png" 32x32 "$seed"
    plasma "PNG32:_$seed-48.png" 48x48 "$seed"
    "$CONVERT" "$pool/_$seed-16.png" "$pool/_$seed-32.png" "$pool/_$seed-48.png" "$pool/i$seed.ico"
    python3 "$pics" cur "$pool/i$seed.ico" "$pool/i$seed.cur"
    png2icns "$pool/i$seed.icns" "$pool/_$seed-16.png" "$pool/_$seed-32.png" "$pool/_$seed-48.png" >/dev/null
done
mkdir -p "$pool/_lo"
for n in 1 2 3; do
    cat >"$pool/_lo/_d$n.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="$((40 + n * 30))mm" height="40mm" viewBox="0 0 $((40 + n * 30)) 40">
  <rect x="2" y="2" width="$((10 + n * 9))" height="20" fill="#30${n}0c0"/><circle cx="30" cy="24" r="$((4 + n * 3))" fill="#e08020"/>
  <text x="6" y="34" font-size="6">picture $n</text>
</svg>
SVG
    for kind in emf wmf; do
        HOME="$pool/_lo" soffice --headless --convert-to "$kind" --outdir "$pool/_lo" "$pool/_lo/_d$n.svg" >/dev/null 2>&1
        cp "$pool/_lo/_d$n.$kind" "$pool/d$n.$kind"
    done
    python3 "$pics" plain-wmf "$pool/d$n.wmf" "$pool/d$n-plain.wmf"
done
rm -rf "$pool/_lo"
# Hand-made.
for seed in 401 402 403; do
    python3 "$pics" psp "$pool/h$seed.psp" "$seed"
    python3 "$pics" x3f "$pool/h$seed.x3f" "$seed"
    python3 "$pics" mrw "$pool/h$seed.mrw" $((seed - 300)) $((seed - 350))
    python3 "$pics" wpg "$pool/h$seed.wpg" $((seed * 20)) "$seed"
    python3 "$pics" crw "$pool/h$seed.crw" $((seed * 3)) "$seed"
done
