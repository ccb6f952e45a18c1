# Drawing, design and font files: the TrueType fonts of fonts-dejavu-core; DXF drawings by ezdxf (LF with
# a "999" comment first, and CR LF copies); SVG by LibreOffice Draw from those drawings and by
# rsvg-convert from LibreOffice's; XML property lists by Python's plistlib; hand-made by the corpus's
# drawing.py: GPX tracks, note exports, citation styles, DWG releases 15, 18 and 21, Photo-Paint,
# FreeHand 11, 3DS chains and a cartridge image, InDesign, After Effects and NGRR files.
need python3-ezdxf librsvg2-bin fonts-dejavu-core libreoffice-draw
drw_py="$here/../../tests/fixtures/raw/corpus/drawing.py"
src="$pool/_drw"
mkdir -p "$src"

for f in $(dpkg -L fonts-dejavu-core | grep '\.ttf$'); do
    cp "$f" "$pool/$(basename "$f" .ttf | tr 'A-Z' 'a-z').ttf"
done

# ezdxf is a Debian package: the system's interpreter has it.
/usr/bin/python3 - "$src" <<'PY'
import sys, random, ezdxf
for k in range(1, 7):
    rng = random.Random(2560 + k)
    doc = ezdxf.new('R2010')
    msp = doc.modelspace()
    for i in range(20 * k * k):
        msp.add_line((rng.random() * 100, rng.random() * 100), (rng.random() * 100, rng.random() * 100))
    for i in range(5 * k):
        msp.add_circle((rng.random() * 100, rng.random() * 100), 1 + rng.random() * 9)
    msp.add_text('Plan %d' % k, dxfattribs={'height': 2}).set_placement((5, 5))
    doc.saveas('%s/plan%d.dxf' % (sys.argv[1], k))
PY
for k in $(seq 1 6); do
    { printf '999\nplan %d drawn by ezdxf\n' "$k"; cat "$src/plan$k.dxf"; } >"$pool/d$k-lf.dxf"
    sed 's/$/\r/' "$src/plan$k.dxf" >"$pool/d$k-crlf.dxf"
done
HOME="$src" soffice --headless --convert-to svg --outdir "$src" "$src"/plan*.dxf >/dev/null 2>&1
for k in $(seq 1 6); do
    cp "$src/plan$k.svg" "$pool/d$k-draw.svg"
    rsvg-convert -f svg "$src/plan$k.svg" -o "$pool/d$k-rsvg.svg"
done

python3 - "$pool" <<'PY'
import plistlib, random, sys
for k in range(1, 7):
    rng = random.Random(2570 + k)
    data = {'Name': 'drawing %d' % k, 'Recent': ['plan%d.dxf' % i for i in range(k * 5)],
            'Zoom': rng.random() * 4, 'Values': [rng.randint(0, 10 ** 6) for _ in range(k * 40)],
            'Notes': 'kept ' * (100 * k)}
    open('%s/p%d.plist' % (sys.argv[1], k), 'wb').write(plistlib.dumps(data, fmt=plistlib.FMT_XML, sort_keys=True))
PY

for v in $(seq 0 5); do
    for kind in gpx enex csl dwg15 dwg18 dwg21 cpt fh11; do
        python3 "$drw_py" make "$kind" "$pool/h$v.$kind" "$v"
    done
done
for kind in indd aep ngrr 3ds ncsd; do
    python3 "$drw_py" make "$kind" "$pool/h0.$kind"
done
for v in 15 18 21; do
    for k in $(seq 0 5); do mv "$pool/h$k.dwg$v" "$pool/h$k-r$v.dwg"; done
done
mv "$pool/h0.ncsd" "$pool/h0-ncsd.3ds"
rm -rf "$src"
