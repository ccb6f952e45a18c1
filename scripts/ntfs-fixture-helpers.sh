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

# record_offset IMG INODE: the byte offset of a file record in a volume image, through $MFT's runs.
record_offset() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
n = int(sys.argv[2])
bps = struct.unpack_from('<H', data, 11)[0]
cluster = bps * data[13]
mft = struct.unpack_from('<q', data, 48)[0] * cluster
r = bytearray(data[mft:mft + 1024])
usa, count = struct.unpack_from('<HH', r, 4)
for k in range(1, count):
    r[k * 512 - 2:k * 512] = r[usa + 2 * k:usa + 2 * k + 2]
off = struct.unpack_from('<H', r, 20)[0]
while True:
    t, length = struct.unpack_from('<II', r, off)
    if t == 0x80 and r[off + 8] == 1 and r[off + 9] == 0:
        break
    off += length
at = off + struct.unpack_from('<H', r, off + 32)[0]
vcn, lcn, want = 0, 0, n * 1024 // cluster
while r[at]:
    lb, ob = r[at] & 15, r[at] >> 4
    length = int.from_bytes(r[at + 1:at + 1 + lb], 'little')
    lcn += int.from_bytes(r[at + 1 + lb:at + 1 + lb + ob], 'little', signed=True)
    if vcn <= want < vcn + length:
        print((lcn + want - vcn) * cluster + n * 1024 % cluster)
        sys.exit(0)
    vcn += length
    at += 1 + lb + ob
sys.exit('record %d lies in no run' % n)
PY
}
