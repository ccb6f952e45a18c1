# Shell functions shared by the NTFS fixture generators (sourced, not run).

# content PATH SIZE KIND (text|random): deterministic bytes named by the file name.
content() {
  python3 - "$1" "$2" "$3" <<'PY'
import random, sys
path, size, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rnd = random.Random(path.rsplit('/', 1)[-1])
if kind == 'random':
    data = bytes(rnd.getrandbits(8) for _ in range(size))
else:
    words = ['alpha', 'bravo', 'charlie', 'delta', 'echo', 'foxtrot', 'golf', 'hotel', 'india', 'juliet']
    text = ''
    while len(text) < size:
        text += ' '.join(rnd.choice(words) for _ in range(10)) + '\n'
    data = text.encode()[:size]
open(path, 'wb').write(data)
PY
}

# sparse PATH: data, a hole of 1 MiB, data.
sparse() {
  python3 - "$1" <<'PY'
import sys
with open(sys.argv[1], 'wb') as f:
    f.write(b'start of the sparse file\n' * 120)
    f.seek(1024 * 1024 + 3000)
    f.write(b'after the hole\n' * 400)
PY
}

# fragment ROOT APPENDS: the free space of the mounted volume at ROOT is cut into one-cluster holes
# (APPENDS two-cluster files in ROOT/Fill cut to one cluster, the rest of the volume taken by
# Fill/ballast.bin), then ROOT/frag.bin is written into them, one cluster per hole.
fragment() {
  local cluster
  cluster=$(stat -f -c %S "$1")
  python3 - "$1" "$cluster" "$2" <<'PY'
import errno, os, sys
root, cluster, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.mkdir(os.path.join(root, 'Fill'))
fills = []
for i in range(n):
    path = os.path.join(root, 'Fill', 'fill %04d.bin' % i)
    with open(path, 'wb') as f:
        f.write((b'fill %04d ' % i) * (2 * cluster // 10 + 1))
        f.truncate(2 * cluster)
    fills.append(path)
try:
    with open(os.path.join(root, 'Fill', 'ballast.bin'), 'wb', buffering=0) as f:
        chunk = bytes(cluster)
        while True:
            f.write(chunk)
except OSError as e:
    if e.errno != errno.ENOSPC:
        raise
for path in fills:
    os.truncate(path, cluster)
with open(os.path.join(root, 'frag.bin'), 'wb', buffering=0) as f:
    # A few holes stay free for the metadata the file itself needs.
    st = os.statvfs(root)
    for i in range(min(n, st.f_bfree * st.f_frsize // cluster) - 40):
        line = b'frag cluster %06d ' % i
        f.write((line * (cluster // len(line) + 1))[:cluster])
PY
}
