# Archives, text, mail and databases: tar (folder first, files only, GNU long names), gzip and tar.gz,
# LHA, cabinets (gcab), compiled help (chmcmd), RTF and HTML (pandoc), mailboxes (Python's mailbox),
# SQLite databases (sqlite3), JKS key stores (keytool); hand-made by the corpus's archives.py: RAR 4
# with and without end block, StuffIt classic and X, bzip2 disk images with their trailer, xar packages.
need tar gzip bzip2 pandoc sqlite3 gcab jlha-utils fp-utils default-jre-headless
arc_py="$here/../../tests/fixtures/raw/corpus/archives.py"
src="$pool/_arc"
mkdir -p "$src"
export SOURCE_DATE_EPOCH=1580688000
stamp="2020-02-03 00:00:00"

for k in $(seq 1 12); do
    d="$src/d$k"
    mkdir -p "$d/sub"
    python3 - "$d" "$k" <<'PY'
import random, sys, os
root, k = sys.argv[1], int(sys.argv[2])
rng = random.Random(2400 + k)
words = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu recover disk file".split()
text = lambda n: ' '.join(rng.choice(words) for _ in range(n)) + '\n'
open(os.path.join(root, 'readme.txt'), 'w').write(text(200 * k * k))
open(os.path.join(root, 'sub', 'data.bin'), 'wb').write(bytes(rng.getrandbits(8) for _ in range(3000 * k * k)))
open(os.path.join(root, 'sub', 'notes.txt'), 'w').write(text(100 * k))
open(os.path.join(root, 'doc.md'), 'w').write('# Notes %d\n\n' % k + '\n\n'.join(text(50) for _ in range(4 * k)))
PY
    find "$d" -exec touch -d "$stamp" {} +
    t=(tar -C "$d" --sort=name --mtime="$stamp" --owner=0 --group=0 --numeric-owner)
    "${t[@]}" -cf "$pool/a${k}-folder.tar" .
    "${t[@]}" -cf "$pool/a${k}-files.tar" readme.txt sub/data.bin
    "${t[@]}" --format=gnu -cf "$pool/a${k}-gnu.tar" sub
    gzip -9 -n -c "$d/readme.txt" >"$pool/a${k}.gz"
    "${t[@]}" -cf - . | gzip -9 -n >"$pool/a${k}-tgz.gz"
    (cd "$d" && lha -aq "$pool/a${k}.lzh" readme.txt sub/notes.txt >/dev/null)
    (cd "$d" && gcab -c "$pool/a${k}.cab" readme.txt sub/notes.txt >/dev/null)
    pandoc -s -f markdown -t rtf -o "$pool/a${k}.rtf" "$d/doc.md"
    pandoc -s -f markdown -t html --metadata title="Notes $k" -o "$pool/a${k}.htm" "$d/doc.md"
    bzip2 -1 -c "$d/readme.txt" >"$src/r$k.bz2"
    python3 "$arc_py" make dmg "$pool/a${k}.dmg" "$src/r$k.bz2"
    sqlite3 "$pool/a${k}.fcpevent" "PRAGMA page_size=4096; CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);
        WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $((100 * k)))
        INSERT INTO t(v) SELECT printf('%0200d', i) FROM n;"
    python3 - "$pool/a${k}.mbox" "$k" <<'PY'
import mailbox, sys, email.message
box = mailbox.mbox(sys.argv[1])
k = int(sys.argv[2])
for j in range(k + 1):
    m = email.message.Message()
    m['From'] = 'alice@example.com'
    m['Subject'] = 'note %d' % j
    m.set_unixfrom('From alice@example.com Mon Feb  3 00:00:00 2020')
    m.set_payload(("line %d of the note\n" % j) * (10 * k) if j < k else "Signed off\n--\n\n\n")
    box.add(m)
box.flush()
PY
    keytool -genkeypair -storetype JKS -keystore "$pool/a${k}.jks" -storepass carving -keypass carving \
        -alias key -dname "CN=carving $k" -keyalg EC -validity 3650 >/dev/null 2>&1
done
python3 "$arc_py" make rar "$pool/end.rar"
python3 "$arc_py" make rar-noend "$pool/noend.rar"
python3 "$arc_py" make sit "$pool/classic.sit" 3104
python3 "$arc_py" make sitx "$pool/x.sitx"
python3 "$arc_py" make xar "$pool/package.pkg"
rm -rf "$src"
