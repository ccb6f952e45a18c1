# Office documents: LibreOffice DOC, DOCX, ODT and PDF from text documents of 3 to 300 paragraphs,
# XLS, XLSX and ODS from sheets of 10 to 3000 rows, PPT, PPTX and ODP from 1 to 12 slides (titles and
# people set); pandoc EPUB and DOCX; Ghostscript PDFs retitled by exiftool; the compound files of the
# corpus's OLE writer (office.py); zip archives of text and random files (sizes in the headers, behind
# the data from a pipe, Zip64 sizes).
need libreoffice-writer libreoffice-calc libreoffice-impress pandoc ghostscript libimage-exiftool-perl zip
office_py="$here/../../tests/fixtures/raw/corpus/office.py"
src="$pool/_office"
mkdir -p "$src/home" "$src/out"
export SOURCE_DATE_EPOCH=1580688000

meta() {  # meta TITLE CREATOR EDITOR YEAR
    printf '<dc:title>%s</dc:title><meta:initial-creator>%s</meta:initial-creator><dc:creator>%s</dc:creator><meta:creation-date>%s-03-04T05:06:07</meta:creation-date><dc:date>%s-04-05T06:07:08</dc:date>' \
        "$1" "$2" "$3" "$4" "$4"
}
flat() {  # flat OUT KIND META BODY
    cat >"$src/$1" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.$2">
 <office:meta>$3</office:meta>
 <office:body><office:$2>$4</office:$2></office:body>
</office:document>
XML
}
people=("Alice Author" "Bob Editor" "Carol Speaker" "Dan Reviewer" "Erin Writer" "Grace Hopper")
k=0
for paragraphs in 3 10 25 60 120 300; do
    k=$((k + 1))
    body=$(python3 - "$paragraphs" "$k" <<'PY'
import random, sys
n, seed = int(sys.argv[1]), int(sys.argv[2])
rng = random.Random(seed)
words = 'alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi rho sigma tau'.split()
print(''.join('<text:p>%s</text:p>' % ' '.join(rng.choice(words) for _ in range(60)) for _ in range(n)))
PY
)
    flat "w$k.fodt" text "$(meta "Report Part" "${people[k % 6]}" "${people[(k + 1) % 6]}" $((2000 + k)))" "$body"
done
k=0
for rows in 10 100 600 3000; do
    k=$((k + 1))
    body=$(python3 - "$rows" "$k" <<'PY'
import random, sys
n, seed = int(sys.argv[1]), int(sys.argv[2])
rng = random.Random(seed)
row = '<table:table-row>%s</table:table-row>'
cell = '<table:table-cell office:value-type="float" office:value="%d"><text:p>%d</text:p></table:table-cell>'
print('<table:table table:name="S">' + ''.join(row % ''.join(cell % (v, v) for v in (rng.randrange(10**6) for _ in range(6))) for _ in range(n)) + '</table:table>')
PY
)
    flat "c$k.fods" spreadsheet "$(meta "Ledger" "${people[k % 6]}" "" $((2010 + k)))" "$body"
done
k=0
for slides in 1 4 12; do
    k=$((k + 1))
    body=""
    for ((s = 0; s < slides; s++)); do
        body+="<draw:page draw:name=\"p$s\"><draw:frame><draw:text-box><text:p>Slide $s $(python3 "$office_py" lorem 30 $((k * 100 + s)))</text:p></draw:text-box></draw:frame></draw:page>"
    done
    flat "s$k.fodp" presentation "$(meta "Review Deck" "${people[k % 6]}" "${people[(k + 2) % 6]}" $((2015 + k)))" "$body"
done
lo_to() { HOME="$src/home" soffice --headless --convert-to "$1" --outdir "$src/out" "${@:2}" >/dev/null 2>&1; }
lo_to doc "$src"/w*.fodt
lo_to docx "$src"/w*.fodt
lo_to odt "$src"/w*.fodt
lo_to pdf "$src"/w*.fodt
lo_to xls "$src"/c*.fods
lo_to xlsx "$src"/c*.fods
lo_to ods "$src"/c*.fods
lo_to ppt "$src"/s*.fodp
lo_to pptx "$src"/s*.fodp
lo_to odp "$src"/s*.fodp
for f in "$src"/out/*; do cp "$f" "$pool/lo-$(basename "$f")"; done

# pandoc EPUB and DOCX.
for k in 1 2 3 4; do
    {
        printf -- '---\ntitle: Field Notes %s\nauthor: %s\nidentifier: urn:uuid:5f0c1b2a-3d4e-4f60-8a7b-9c0d1e2f3a4%s\n---\n\n' \
            "$(printf '%s' "$k" | tr 1234 ABCD)" "${people[k]}" "$k"
        for ((c = 1; c <= k * 3; c++)); do
            printf '# Chapter %d\n\n%s\n\n' "$c" "$(python3 "$office_py" lorem $((k * 200)) $((k * 10 + c)))"
        done
    } >"$src/n$k.md"
    pandoc "$src/n$k.md" -o "$pool/pd$k.epub"
    pandoc "$src/n$k.md" -o "$pool/pd$k.docx"
done

# Ghostscript PDFs retitled by exiftool (an incremental update).
for k in 2 4 5 6; do
    gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -dOmitInfoDate -dOmitXMP -dOmitID -o "$pool/gs$k.pdf" "$src/out/w$k.pdf"
    exiftool -q -overwrite_original -Title="Summary Letter" -Author="${people[k % 6]}" \
        -CreateDate="20$((10 + k)):0$k:0$k 0$k:11:12+00:00" "$pool/gs$k.pdf"
done

# The OLE writer's compound files.
mkdir -p "$src/ole"
python3 "$office_py" ole "$src/ole"
for f in "$src"/ole/*; do cp "$f" "$pool/$(basename "$f")"; done

# zip archives.
mkdir -p "$src/zip"
for k in 1 2 3 4 5 6; do
    python3 "$office_py" lorem $((k * k * 300)) "$k" >"$src/zip/notes$k.txt"
    python3 "$office_py" random $((k * 9000)) "$k" >"$src/zip/data$k.bin"
    (cd "$src/zip" && zip -q -X -D "$pool/z$k.zip" "notes$k.txt" "data$k.bin")
done
python3 "$office_py" lorem 3000 40 | zip -q -X -fz- - - | cat >"$pool/zpipe.zip"
python3 "$office_py" lorem 2500 41 | zip -q -X "$pool/z64.zip" -
unset SOURCE_DATE_EPOCH
rm -rf "$src"
