#!/usr/bin/env python3
"""Makes the seeds of the fuzz harnesses (tests/fuzz/seeds/NAME/) from the committed fixtures: for each
harness, the sectors of the fixture images that hold the structure it parses, laid out as the harness
reads its input. Run by hand when a harness or a fixture changes; the seeds are committed.

Usage: make-seeds.py [NAME...]     (no name: every harness)
"""
import lzma
import os
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
FIXTURES = HERE.parent / 'fixtures'
SEEDS = HERE / 'seeds'

_images = {}


def image(relative):
    """The bytes of tests/fixtures/RELATIVE.img.xz."""
    if relative not in _images:
        _images[relative] = lzma.decompress((FIXTURES / (relative + '.img.xz')).read_bytes())
    return _images[relative]


def sectors(data, first, count, size=512):
    return data[first * size:(first + count) * size]


def fold(data, wanted, sector_size=512, header=b''):
    """An input for a device whose sectors fold onto it (sector s reads input sector s mod n): the
    sectors listed in `wanted` are placed where they fold to, for the smallest n that keeps them apart."""
    wanted = sorted(set(wanted))
    n = len(wanted)
    while len({s % n for s in wanted}) != len(wanted):
        n += 1
    out = bytearray(n * sector_size)
    for s in wanted:
        out[(s % n) * sector_size:(s % n + 1) * sector_size] = sectors(data, s, 1, sector_size)
    return header + bytes(out)


def device_header(sector_size, total_sectors):
    """The two geometry bytes of the harnesses that read a device (see fuzz/support/FuzzDevice.h)."""
    exponent = max(total_sectors - 1, 1).bit_length()
    return bytes([1 if sector_size == 4096 else 0, exponent])


class Fat:
    def __init__(self, data, base=0):
        b = data[base:base + 512]
        self.data, self.base = data, base
        self.bps, self.spc, self.res, self.nfats = struct.unpack_from('<HBHB', b, 11)
        self.root_entries, tot16, _, spf16 = struct.unpack_from('<HHBH', b, 17)
        self.spf = spf16 or struct.unpack_from('<I', b, 36)[0]
        self.fat32 = spf16 == 0
        self.root_cluster = struct.unpack_from('<I', b, 44)[0] if self.fat32 else 0
        self.table_byte = base + self.res * self.bps
        self.root_byte = base + (self.res + self.nfats * self.spf) * self.bps
        self.data_byte = self.root_byte + (0 if self.fat32 else self.root_entries * 32)
        self.csize = self.bps * self.spc

    def cluster_sector(self, c):
        return (self.data_byte - self.base) // self.bps + (c - 2) * self.spc


class Ntfs:
    """The geometry of an NTFS image and its first file records (the table's first run is contiguous)."""

    def __init__(self, data):
        self.data = data
        self.bps = struct.unpack_from('<H', data, 11)[0]
        self.spc = data[13]
        self.cluster = self.bps * self.spc
        self.mft_lcn = struct.unpack_from('<q', data, 48)[0]
        raw = struct.unpack_from('<b', data, 64)[0]
        self.record_size = 1 << -raw if raw < 0 else raw * self.cluster
        self.mft_byte = self.mft_lcn * self.cluster

    def raw_record(self, n):
        at = self.mft_byte + n * self.record_size
        return self.data[at:at + self.record_size]

    def record(self, n):
        """Record n with its update-sequence protection removed."""
        r = bytearray(self.raw_record(n))
        usa, count = struct.unpack_from('<HH', r, 4)
        for k in range(1, count):
            end = k * 512 - 2
            if end + 2 <= len(r):
                r[end:end + 2] = r[usa + 2 * k:usa + 2 * k + 2]
        return bytes(r)

    def attributes(self, n):
        """(type, non-resident, attribute bytes) of record n."""
        r = self.record(n)
        at = struct.unpack_from('<H', r, 20)[0]
        while at + 8 <= len(r):
            kind, length = struct.unpack_from('<II', r, at)
            if kind == 0xFFFFFFFF or length < 16 or at + length > len(r):
                break
            yield kind, r[at + 8], r[at:at + length]
            at += length

    def pairs(self, n, kind=0x80):
        """The mapping pairs of the first non-resident attribute of that kind in record n."""
        for k, non_resident, a in self.attributes(n):
            if k == kind and non_resident:
                return a[struct.unpack_from('<H', a, 32)[0]:]
        return None

    def runs(self, n, kind=0x80):
        """[(lcn or None, clusters)] of the attribute."""
        pairs, out, lcn, at = self.pairs(n, kind), [], 0, 0
        while pairs and at < len(pairs) and pairs[at] != 0:
            lb, ob = pairs[at] & 15, pairs[at] >> 4
            length = int.from_bytes(pairs[at + 1:at + 1 + lb], 'little')
            if ob:
                lcn += int.from_bytes(pairs[at + 1 + lb:at + 1 + lb + ob], 'little', signed=True)
                out.append((lcn, length))
            else:
                out.append((None, length))
            at += 1 + lb + ob
        return out


def fold_map(placed, sector_size=512, header=b''):
    """Like fold, for sectors placed by hand: {device sector: bytes of one sector}."""
    wanted = sorted(placed)
    n = len(wanted)
    while len({s % n for s in wanted}) != len(wanted):
        n += 1
    out = bytearray(n * sector_size)
    for s in wanted:
        out[(s % n) * sector_size:(s % n + 1) * sector_size] = placed[s]
    return header + bytes(out)


def planted(types):
    """The files of the carving image of the given manifest types: [(type, start sector, bytes)]."""
    data = image('raw/carving')
    out = []
    for line in (FIXTURES / 'raw' / 'carving-manifest.tsv').read_text().splitlines():
        if line.startswith('#'):
            continue
        fields = line.split('\t')
        if fields[1] in types:
            start, size = int(fields[0]), int(fields[2])
            out.append((fields[1], start, data[start * 512:start * 512 + size]))
    return out


def jpegs():
    """The photos of the carving image: {start sector: bytes}, from its manifest."""
    return {start: body for _, start, body in planted({'JPG'})}


def carve_seeds(types, limit):
    """One seed per planted file of these types (cut to the harness's limit), the search's block and
    sector size varied through the header byte; and one image of the smallest of each type back to back,
    as they follow each other on a disk."""
    out = {}
    files = planted(types)
    for i, (kind, start, body) in enumerate(files):
        out[f'{kind.lower()}-{start}'] = bytes([(i % 4) * 2]) + body[:min(limit, 96 * 1024)]
    smallest = {}
    for kind, start, body in files:
        if kind not in smallest or len(body) < len(smallest[kind]):
            smallest[kind] = body
    disk = b''
    for kind in sorted(smallest):
        body = smallest[kind] + bytes(-len(smallest[kind]) % 512)
        if len(disk) + len(body) <= min(limit, 128 * 1024):
            disk += body
    out['several'] = bytes([0]) + disk
    out['several-4096'] = bytes([1]) + disk
    return out


# ---- harnesses -------------------------------------------------------------------------------------

def seeds_exif():
    out = {}
    for start, photo in jpegs().items():
        at = 2
        while at + 4 <= len(photo) and photo[at] == 0xFF:
            marker, length = photo[at + 1], int.from_bytes(photo[at + 2:at + 4], 'big')
            if marker == 0xE1 and photo[at + 4:at + 10] == b'Exif\0\0':
                out[f'photo-{start}'] = photo[at + 4:at + 2 + length]
                break
            if marker == 0xDA:
                break
            at += 2 + length
    return out


def seeds_jpeg_carve():
    photos = jpegs()
    plain = min((p for p in photos.values() if b'Exif' not in p[:64]), key=len)
    camera = min((p for p in photos.values() if b'Exif' in p[:64]), key=len)
    pad = lambda b: b + bytes(-len(b) % 512)
    return {
        'camera': bytes([0]) + camera,
        'plain-then-camera': bytes([2]) + pad(plain) + camera[:128 * 1024 - len(pad(plain))],
    }


def seeds_apfs_container():
    """The blocks of the APFS images that hold anything, folded at 4096 bytes (every block the scan and
    the walks read lands where its address folds to)."""
    out = {}
    for name in ('apfs-records', 'apfs-longname'):
        data = image('apfs/' + name)
        used = [b for b in range(len(data) // 4096) if any(data[b * 4096:(b + 1) * 4096])]
        out[name] = fold(data, used, sector_size=4096, header=device_header(512, len(data) // 512))
    data = image('apfs/apfs-longname')
    used = [b for b in range(len(data) // 4096) if any(data[b * 4096:(b + 1) * 4096])]
    out['apfs-longname-4096'] = fold(data, used, sector_size=4096, header=device_header(4096, len(data) // 4096))
    return out


def seeds_carve_camera():
    return carve_seeds({'TIF', 'NEF', 'CR2', 'PEF', 'ORF', 'SRW', 'RW2', 'DNG', 'RAF', '3FR', 'ARW', 'DCR', 'ERF',
                        'KDC', 'MEF', 'SR2', 'RAW', 'X3F', 'MRW', 'CRW'}, 128 * 1024)


def seeds_carve_pictures():
    return carve_seeds({'PNG', 'GIF', 'PSD', 'PSP', 'WPG', 'BMP', 'ICO', 'CUR', 'icns', 'WMF', 'EMF', 'EPS'},
                       128 * 1024)


def seeds_carve_office():
    return carve_seeds({'DOC', 'XLS', 'PPT', 'VSD', 'MPP', 'PUB', 'MAX', 'MOF', 'QPW', 'IPT', 'DOCX', 'XLSX', 'PPTX',
                        'ODT', 'ODS', 'ODP', 'EPUB', 'ZIP', 'KEY', 'NUMBERS', 'PAGES', 'IPA', 'PDF', 'AI'},
                       256 * 1024)


def hfs_sectors(data, limit_blocks=64):
    """The 512-byte sectors of an HFS+ image that its quick search reads: the volume header, the first
    blocks of each special file's extents (extents, catalog, attributes), the journal's info block, header
    and first log blocks, and the alternate header."""
    h = data[1024:1536]
    block = struct.unpack_from('>I', h, 40)[0]
    per = block // 512
    wanted = {2, len(data) // 512 - 2}
    for fork in (0xC0, 0x110, 0x160):
        for e in range(8):
            start, count = struct.unpack_from('>II', h, fork + 16 + 8 * e)
            for b in range(start, start + min(count, limit_blocks)):
                wanted.update(range(b * per, (b + 1) * per))
    if struct.unpack_from('>I', h, 4)[0] & 0x2000:  # journaled
        info = struct.unpack_from('>I', h, 12)[0] * block
        wanted.add(info // 512)
        offset, length = struct.unpack_from('>QQ', data, info + 36)
        wanted.update(range(offset // 512, (offset + min(length, 32 * 1024)) // 512))
    return wanted


def seeds_hfsplus_volume():
    out = {}
    for name in ('plain', 'hfsx', 'journaled'):
        data = image('hfsplus/' + name)
        total = len(data) // 512
        out[name] = fold(data, hfs_sectors(data), header=device_header(512, total))
    return out


def seeds_jpeg_size():
    photos = jpegs()
    plain = min((p for p in photos.values() if b'Exif' not in p[:64]), key=len)
    camera = min((p for p in photos.values() if b'Exif' in p[:64]), key=len)
    return {'plain': plain, 'camera': camera}


def seeds_ntfs_deep():
    """The boot sector and its backup, the table's first records and users' records, and the index
    blocks of the NTFS images, folded; a copy without the boot sectors (a volume known by its records)."""
    out = {}
    for name in ('ntfs512', 'ntfs4k'):
        ntfs = Ntfs(image('ntfs/' + name))
        data, bps = ntfs.data, ntfs.bps
        per = ntfs.record_size // bps
        first = ntfs.mft_byte // bps
        wanted = {0, len(data) // bps - 1}
        wanted.update(range(first, first + 16 * per))
        wanted.update(range(first + 64 * per, first + 72 * per))
        at, blocks = data.find(b'INDX'), 0
        while at >= 0 and blocks < 2:
            if at % bps == 0:
                wanted.update(range(at // bps, (at + 4096) // bps))
                blocks += 1
            at = data.find(b'INDX', at + 1)
        header = device_header(bps, len(data) // bps)
        header = bytes([header[0] | 2]) + header[1:]  # blocks of 32 sectors
        out[name] = fold(data, wanted, bps, header)
        if name == 'ntfs512':
            blank = bytearray(data)
            blank[0:bps] = bytes(bps)
            blank[len(data) - bps:] = bytes(bps)
            out[name + '-no-boot'] = fold(bytes(blank), wanted, bps, header)
    return out


def seeds_fat_deep():
    """The boot sector, the tables' first sectors, the root folder and the first clusters of the FAT
    images, folded; copies without the boot sector (the volume inferred from its tables and folders)."""
    out = {}
    for name in ('fat12', 'fat16', 'fat32', 'fat32-4k'):
        data = image('fat/' + name)
        fat = Fat(data)
        table = fat.table_byte // fat.bps
        root = (fat.root_byte - fat.base) // fat.bps
        wanted = {0, 1, 6}
        wanted.update(range(table, table + 2))
        wanted.update(range(table + fat.spf, table + fat.spf + 2))
        wanted.update(range(root, root + 8))
        wanted.update(range(fat.cluster_sector(2), fat.cluster_sector(2) + min(8, 4 * fat.spc)))
        header = device_header(fat.bps, len(data) // fat.bps)
        out[name] = fold(data, wanted, fat.bps, header)
        blank = bytearray(data)
        blank[0:fat.bps] = bytes(fat.bps)
        out[name + '-no-boot'] = fold(bytes(blank), wanted, fat.bps, header)
def seeds_store_carve():
    """Files of the archive, text, mail and database family cut out of the carving image, each as the
    start of an image of its own and, for the small ones, several in a row."""
    data = image('raw/carving')
    files = {}
    for line in (FIXTURES / 'raw' / 'carving-manifest.tsv').read_text().splitlines():
        if line.startswith('#'):
            continue
        fields = line.split('\t')
        kind, start, planted = fields[1], int(fields[0]), int(fields[8])
        if kind in ('TAR', 'GZ', 'LZH', 'RAR', 'SIT', 'SITX', 'DMG', 'RTF', 'FCPEVENT', 'ONE', 'MOBI', 'MBOX',
                    'pkg', 'MUSE', 'ACCDB', 'PSAFE3', 'HTM') and kind not in files:
            files[kind] = data[start * 512:start * 512 + planted]
    pad = lambda b: b + bytes(-len(b) % 512)
    limit = 128 * 1024
    out = {kind.lower(): bytes([0]) + body[:limit] for kind, body in files.items()}
    row = b''.join(pad(files[k]) for k in ('RAR', 'LZH', 'SITX', 'DMG', 'ONE', 'MOBI', 'MBOX') if k in files)
    out['several'] = bytes([2]) + row[:limit]
    return out


def seeds_fat_folder():
    out = {}
    for name, sector_size in (('fat16', 512), ('fat32', 512), ('fat32-4k', 4096)):
        data = image('fat/' + name)
        fat = Fat(data)
        flags = (1 if fat.fat32 else 0) | (2 if sector_size == 4096 else 0) | (fat.spc.bit_length() - 1) << 2
        table = data[fat.table_byte:fat.table_byte + 512]
        content = data[fat.root_byte:fat.root_byte + 32 * 1024]
        out[name] = bytes([flags]) + table + content
    return out


def seeds_fat_table():
    out = {}
    for name, width in (('fat12', 0), ('fat16', 1), ('fat32', 2), ('fat32-4k', 2)):
        data = image('fat/' + name)
        fat = Fat(data)
        flags = width | (4 if fat.bps == 4096 else 0) | (fat.spc.bit_length() - 1) << 3
        table = bytearray(data[fat.table_byte:fat.table_byte + min(fat.spf * fat.bps, 128 * 1024)])
        if width == 2:
            # A table cut short: its chains end where it ends, as a whole table of that length would.
            entries = len(table) // 4
            for k in range(2, entries):
                value = struct.unpack_from('<I', table, 4 * k)[0] & 0x0FFFFFFF
                if entries <= value < 0x0FFFFFF7:
                    struct.pack_into('<I', table, 4 * k, 0x0FFFFFFF)
        out[name] = bytes([flags]) + struct.pack('<I', 100000) + bytes(table)
    return out


def seeds_volume_recognition():
    out = {}
    for name in ('fat12', 'fat16', 'fat32', 'fat32-4k'):
        data = image('fat/' + name)
        fat = Fat(data)
        root = (fat.root_byte - fat.base) // fat.bps
        wanted = [0, fat.table_byte // fat.bps] + list(range(root, root + fat.spc))
        out[name] = fold(data, wanted, fat.bps, device_header(fat.bps, len(data) // fat.bps))
    for name in ('exfat-4k', 'exfat-4kn'):
        data = image('exfat/' + name)
        bps = 1 << data[108]
        out[name] = fold(data, range(12), bps, device_header(bps, len(data) // bps))
    for name in ('ntfs512', 'ntfs4k'):
        data = image('ntfs/' + name)
        bps = struct.unpack_from('<H', data, 11)[0]
        out[name] = fold(data, [0], bps, device_header(bps, len(data) // bps))
    return out


def seeds_partition_table():
    out = {}
    mbr = image('partitions/mbr')
    out['mbr-extended'] = fold(mbr, [0, 40960, 51200, 69632], 512, device_header(512, len(mbr) // 512))
    gpt = image('partitions/gpt')
    last = len(gpt) // 512 - 1
    out['gpt'] = fold(gpt, list(range(34)) + [last], 512, device_header(512, len(gpt) // 512))
    gpt4k = image('partitions/gpt4k')
    last = len(gpt4k) // 4096 - 1
    out['gpt-4096'] = fold(gpt4k, list(range(6)) + [last], 4096, device_header(4096, len(gpt4k) // 4096))
    apm = image('partitions/apm')
    out['apple-map'] = fold(apm, range(6), 512, device_header(512, len(apm) // 512))
    return out


def compressed_volume():
    """The compressed fixture: its image, cluster size and {file: [(lcn or None, clusters)]}."""
    data = image('ntfs-compressed/ntfs-compressed')
    runs, cluster = {}, 4096
    for line in (FIXTURES / 'ntfs-compressed' / 'expected.txt').read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == 'cluster':
            cluster = int(fields[1])
        elif fields and fields[0] == 'run':
            lcn = int(fields[2])
            runs.setdefault(fields[1], []).append((None if lcn < 0 else lcn, int(fields[3])))
    return data, cluster, runs


def seeds_lznt1():
    data, cluster, runs = compressed_volume()
    out = {}
    for name, file_runs in runs.items():
        # The first compression unit that holds a hole is compressed: its stored clusters are LZNT1.
        lcn, length = file_runs[0]
        if lcn is not None and len(file_runs) > 1 and file_runs[1][0] is None and length + file_runs[1][1] == 16:
            out[f'unit-{name}'] = struct.pack('<H', 0) + data[lcn * cluster:(lcn + length) * cluster]
    return out


def pairs_of(runs):
    """Mapping pairs of [(lcn or None, clusters)]."""
    out, previous = bytearray(), 0
    for lcn, length in runs:
        lb = (length.bit_length() + 8) // 8
        if lcn is None:
            out += bytes([lb]) + length.to_bytes(lb, 'little')
            continue
        delta = lcn - previous
        ob = (delta.bit_length() + 8) // 8
        out += bytes([ob << 4 | lb]) + length.to_bytes(lb, 'little') + delta.to_bytes(ob, 'little', signed=True)
        previous = lcn
    return bytes(out + b'\0')


def seeds_compressed_file():
    data, cluster, runs = compressed_volume()
    sizes = {}
    for line in (FIXTURES / 'ntfs-compressed' / 'expected.txt').read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == 'file':
            sizes[fields[1]] = int(fields[2])
    out = {}
    for name in ('g', 'h'):
        # The file's stored clusters moved to the volume's start, its runs named there.
        volume, moved, next_lcn = bytearray(), [], 0
        for lcn, length in runs[name]:
            if lcn is None:
                moved.append((None, length))
                continue
            volume += data[lcn * cluster:(lcn + length) * cluster]
            moved.append((next_lcn, length))
            next_lcn += length
        pairs = pairs_of(moved)
        flags = (cluster // 512).bit_length() - 1
        out[f'file-{name}'] = bytes([flags]) + struct.pack('<II', sizes[name], 4096) + bytes([len(pairs)]) + pairs + volume
    return out


def seeds_ntfs_record():
    out = {}
    for name in ('ntfs512', 'ntfs4k'):
        ntfs = Ntfs(image('ntfs/' + name))
        flags = (1 if ntfs.bps == 4096 else 0) | (2 if ntfs.record_size == 4096 else 0) | (ntfs.spc.bit_length() - 1) << 2
        # The system files' first records, then the users' files and folders (from record 64 on).
        records = 64 * 1024 // ntfs.record_size
        system = records // 8
        table = b''.join(ntfs.raw_record(n) for n in list(range(system)) + list(range(64, 64 + records - system)))
        out[name] = bytes([flags]) + table
    return out


def seeds_ntfs_dataruns():
    out = {}
    ntfs = Ntfs(image('ntfs/ntfs512'))
    sums = (FIXTURES / 'ntfs' / 'ntfs512.icat.txt').read_text().splitlines()
    wanted = {'$MFT': 0, '$LogFile': 2}
    for line in sums:
        fields = line.split('\t')
        if len(fields) >= 4 and fields[3] in ('frag.bin', 'sparse.bin'):
            wanted[fields[3]] = int(fields[0])
    for name, n in wanted.items():
        pairs = ntfs.pairs(n)
        if pairs:
            end = 0
            while pairs[end] != 0:
                end += 1 + (pairs[end] & 15) + (pairs[end] >> 4)
            out[name.strip('$').replace('.', '-')] = struct.pack('<q', 0) + pairs[:end + 1]
    return out


def log_record(lsn, client, record=0, record_offset=0, attribute_offset=0, spc=4):
    """A log record: its 48-byte header (LSN, client length) and client data whose undo part (offset 40
    from byte 48) is `client`, aimed at (record, record offset, attribute offset)."""
    r = bytearray(88 + len(client))
    struct.pack_into('<Q', r, 0, lsn)
    struct.pack_into('<I', r, 24, len(r) - 48)
    struct.pack_into('<HH', r, 56, 40, len(client))
    struct.pack_into('<HHH', r, 64, record_offset, attribute_offset, 0 if spc < 3 else (record % 4) * 2)
    struct.pack_into('<Q', r, 72, record if spc < 3 else record // 4)
    r[88:] = client
    return bytes(r)


def log_page(records, last_lsn, last_end_lsn):
    """A 4096-byte log record page ("RCRD") holding the records at their offsets, protected."""
    p = bytearray(4096)
    p[0:4] = b'RCRD'
    struct.pack_into('<HH', p, 4, 40, 9)
    struct.pack_into('<Q', p, 8, last_lsn)
    struct.pack_into('<Q', p, 32, last_end_lsn)
    for at, r in records:
        p[at:at + len(r)] = r[:4096 - at]
    struct.pack_into('<H', p, 40, 3)
    for k in range(8):
        p[42 + 2 * k:44 + 2 * k] = p[512 * k + 510:512 * k + 512]
        struct.pack_into('<H', p, 512 * k + 510, 3)
    return bytes(p)


def inode(name, path):
    for line in (FIXTURES / 'ntfs' / (name + '.icat.txt')).read_text().splitlines():
        fields = line.split('\t')
        if len(fields) >= 4 and fields[3] == path:
            return int(fields[0])
    raise KeyError(path)


def fixture_log_pages(ntfs, name):
    """Log pages as the log writes them, around file records of the fixture: a whole FILE record (a
    deleted file's twin) and undo data aimed at the $DATA of a deleted empty file, one record continued
    on the next page."""
    twin = log_record(12, ntfs.raw_record(inode(name, 'Deleted Report.txt'))[:1024])
    empty = inode(name, 'Deleted Empty.txt')
    record = ntfs.record(empty)
    data = struct.unpack_from('<H', record, 20)[0]
    for kind, _, a in ntfs.attributes(empty):
        if kind == 0x80:
            break
        data += len(a)
    spc = ntfs.spc
    undo = log_record(10, bytes(range(48)), record=empty, record_offset=data, attribute_offset=8, spc=spc)
    cut = 4096 - 40
    first = log_page([(64, twin), (64 + (len(twin) + 7 & ~7), undo), (cut, log_record(13, bytes(200)))], 13, 12)
    rest = log_record(13, bytes(200))[40:]
    second = log_page([(64, rest), (64 + (len(rest) + 7 & ~7), log_record(14, bytes(16)))], 14, 14)
    return first, second


def seeds_ntfs_index():
    out = {}
    ntfs = Ntfs(image('ntfs/ntfs512'))
    data = ntfs.data
    at = data.find(b'INDX')
    while at >= 0 and at % 512 != 0:
        at = data.find(b'INDX', at + 1)
    if at >= 0:
        out['index-block'] = data[at:at + 4096]
    out['log-page'] = fixture_log_pages(ntfs, 'ntfs512')[0]
    return out


def seeds_ntfs_log():
    out = {}
    for name in ('ntfs512', 'ntfs4k'):
        ntfs = Ntfs(image('ntfs/' + name))
        bps = ntfs.bps
        placed = {}
        table = ntfs.data[ntfs.mft_byte:ntfs.mft_byte + 16 * 1024]
        for k in range(len(table) // bps):
            placed[k] = table[k * bps:(k + 1) * bps]
        log_lcn, log_clusters = ntfs.runs(2)[0]
        first = log_lcn * ntfs.cluster // bps
        pages = log_clusters * ntfs.cluster // 4096
        # The fixture's log is empty (no record pages): pages 4 and 5 get records, as a log holds them.
        written = dict(zip((4, 5), fixture_log_pages(ntfs, name)))
        for page in (0, 1, 4, 5, pages - 1):
            content = written.get(page, ntfs.data[(first * bps + page * 4096):(first * bps + (page + 1) * 4096)])
            for k in range(4096 // bps):
                placed[first + page * 4096 // bps + k] = content[k * bps:(k + 1) * bps]
        # The table is at cluster 0 of the harness's volume, where it was at LCN mft_lcn: the log's
        # runs in record 2 stay as they are, so its pages keep their sectors (the device is as large).
        flags = (1 if bps == 4096 else 0) | (ntfs.spc.bit_length() - 1) << 1
        header = bytes([flags, max(len(ntfs.data) // bps - 1, 1).bit_length()])
        out[name] = fold_map(placed, bps, header)
    return out


def seeds_exfat_boot():
    out = {}
    for name in ('exfat-4k', 'exfat-4kn', 'exfat-32k'):
        data = image('exfat/' + name)
        bps, sc = 1 << data[108], data[109]
        fat, heap, root = struct.unpack_from('<I', data, 80)[0], struct.unpack_from('<I', data, 88)[0], \
            struct.unpack_from('<I', data, 96)[0]
        root_sector = heap + ((root - 2) << sc)
        wanted = [0, fat] + list(range(root_sector, root_sector + min(1 << sc, 16)))
        out[name] = fold(data, wanted, bps, device_header(bps, len(data) // bps))
    return out


def seeds_exfat_entries():
    out = {}
    for name in ('exfat-4k', 'exfat-4kn', 'exfat-32k'):
        data = image('exfat/' + name)
        shift, sc = data[108], data[109]
        bps = 1 << shift
        fat, heap, root = struct.unpack_from('<I', data, 80)[0], struct.unpack_from('<I', data, 88)[0], \
            struct.unpack_from('<I', data, 96)[0]
        cluster = bps << sc
        table = data[fat * bps:fat * bps + 512]
        heap_bytes = data[heap * bps:heap * bps + 64 * 1024]
        if (root - 2) * cluster >= 48 * 1024:
            # A large cluster: the root folder's cluster put first, as cluster 2.
            heap_bytes = data[heap * bps + (root - 2) * cluster:][:cluster]
            root = 2
        flags = (1 if shift == 12 else 0) | sc << 1
        out[name] = bytes([flags, root - 2]) + table + heap_bytes[:64 * 1024]
    return out


def crc16(data, polynomial=0x8005):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ polynomial) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


SIGNATURE = bytes([0xea, 0xf4, 0xb3, 0x1c, 0x05, 0x43, 0xb6, 0x4a, 0xb4, 0xb8, 0x24, 0x4a, 0x33, 0xd9, 0x13, 0xbb])
TAGS = {
    'controllers': bytes([0x94, 0x63, 0x9b, 0x40, 0x81, 0xf6, 0x88, 0x4e, 0xa2, 0x0f, 0x5d, 0x63, 0x57, 0x82, 0xed, 0x75]),
    'disk': bytes([0x76, 0xa6, 0x72, 0xb0, 0x48, 0x05, 0x8b, 0x46, 0xba, 0x9e, 0x91, 0x09, 0x3a, 0x63, 0xb5, 0x17]),
    'nodes': bytes([0x6c, 0xf2, 0x08, 0xd2, 0x8c, 0x07, 0x34, 0x4e, 0x9d, 0x71, 0xd9, 0x1f, 0x53, 0x5f, 0x7b, 0x57]),
}


def seeds_saved_results():
    # An archive as a save of the ntfs512 fixture's quick scan writes its records: the NTFS partition
    # record, the table's finding with its runs, a run of records, a run list and its compact form.
    ntfs = Ntfs(image('ntfs/ntfs512'))
    runs = ntfs.runs(0)
    run_list, vcn = b'', 0
    for lcn, length in runs:
        run_list += struct.pack('<qqq', -1 if lcn is None else lcn, length, vcn)
        vcn += length
    run_list = struct.pack('<Q', len(runs)) + run_list
    mft_sector = ntfs.mft_byte // 512
    partition = struct.pack('<qIIIIqqqqqqqqq', 0x1234, 2, 1, 0, 0, len(ntfs.data) // ntfs.cluster, -1, -1, -1,
                            mft_sector, -1, -1, -1, -1)
    table = struct.pack('<qBB', mft_sector, 2, ntfs.spc) + run_list
    position = struct.pack('<qq', mft_sector, 64)
    pairs = pairs_of(runs)
    compact = struct.pack('<I', len(pairs)) + pairs + struct.pack('<H', 0)
    body = partition + table + position + run_list + compact

    description = b'fuzz seed'
    header = bytearray(132)
    header[0:16] = SIGNATURE
    struct.pack_into('<III', header, 16, 5800, 0, 1)
    struct.pack_into('<I', header, 28, len(description))
    header[32:32 + len(description)] = description
    struct.pack_into('<I', header, 20, crc16(bytes(header)))
    frames = b''
    for tag in ('disk', 'controllers', 'nodes'):
        data = body if tag != 'disk' else body[:40]
        frames += SIGNATURE + TAGS[tag] + struct.pack('<I', len(data)) + data
    return {'ntfs-scan': bytes(header) + frames}


def seeds_recycle_record():
    def record(version, path, size=4096, deleted=132000000000000000):
        units = (path + '\0').encode('utf-16-le')
        head = struct.pack('<QQQ', version, size, deleted)
        if version == 1:
            return head + units.ljust(520, b'\0')
        return head + struct.pack('<I', len(units) // 2) + units
    return {
        'layout-1': record(1, 'D:\\notes.txt'),
        'layout-2': record(2, 'C:\\Users\\al\\Documents\\Report 2023.docx'),
    }


def seeds_ini():
    return {
        'revise-off': b'[UserExperience]\r\nbRevise=0\r\n[Other]\nkey = value\n',
        'sections': b'; settings\n[UserExperience]\nbRevise=1\nname=\n[Window]\nx=10\ny=20\n',
    }


def seeds_plist():
    import plistlib
    out = {}
    resources = HERE.parent.parent / 'resources'
    for path in (resources / 'FileType.plist', resources / 'l10n' / 'en.plist'):
        xml = path.read_bytes()
        name = path.stem.lower()
        if len(xml) <= 64 * 1024:
            out[name + '-xml'] = xml
        binary = plistlib.dumps(plistlib.loads(xml), fmt=plistlib.FMT_BINARY)
        if len(binary) <= 64 * 1024:
            out[name + '-binary'] = binary
    defaults = {'AppleLanguages': ['de-AT', 'en'], 'Participate': True, 'ShowExisting': 1, 'Nested': {'a': [1, 'b']}}
    out['defaults-binary'] = plistlib.dumps(defaults, fmt=plistlib.FMT_BINARY)
    return out


def seeds_dmg_image():
    """UDIF images built as the bridge tests build them (a data fork, XML block tables, a big-endian
    trailer): all raw, one with a zlib chunk, one with a raw chunk off its place; and a flat image."""
    import plistlib

    def mish(first, count, chunks):
        m = bytearray(204 + 40 * len(chunks))
        m[0:4] = b'mish'
        struct.pack_into('>IQQQI', m, 4, 1, first, count, 0, 2056)
        struct.pack_into('>I', m, 200, len(chunks))
        for i, (kind, cfirst, ccount, offset, length) in enumerate(chunks):
            struct.pack_into('>IIQQQQ', m, 204 + 40 * i, kind, 0, cfirst, ccount, offset, length)
        return bytes(m)

    def udif(tables, sectors=32):
        data = bytes((s * 7 + i) & 0xFF for s in range(sectors) for i in range(512))
        blkx = [{'Data': t, 'Name': 'table %d' % i, 'ID': str(i)} for i, t in enumerate(tables)]
        xml = plistlib.dumps({'resource-fork': {'blkx': blkx}}, fmt=plistlib.FMT_XML)
        koly = bytearray(512)
        koly[0:4] = b'koly'
        struct.pack_into('>II', koly, 4, 4, 512)
        struct.pack_into('>QQ', koly, 24, 0, len(data))
        struct.pack_into('>QQ', koly, 216, len(data), len(xml))
        struct.pack_into('>Q', koly, 492, sectors)
        return data + xml + bytes(koly)

    raw = [mish(0, 16, [(1, 0, 8, 0, 4096), (1, 8, 8, 4096, 4096), (0xFFFFFFFF, 16, 0, 8192, 0)]),
           mish(16, 16, [(1, 0, 16, 8192, 8192), (0x7FFFFFFE, 16, 0, 16384, 0), (0xFFFFFFFF, 16, 0, 16384, 0)])]
    zlib = [mish(0, 32, [(0x80000005, 0, 32, 0, 16384), (0xFFFFFFFF, 32, 0, 16384, 0)])]
    off = [mish(0, 32, [(1, 0, 32, 512, 16384), (0xFFFFFFFF, 32, 0, 16384, 0)])]
    return {
        'udif-raw': udif(raw),
        'udif-zlib': udif(zlib),
        'udif-raw-off-place': udif(off),
        'flat': bytes(range(256)) * 6,
    }


def seeds_recovery():
    """A found file system of each kind, folded (byte 0 picks the searcher: 0 HFS+, 1 FAT16, 2 FAT32,
    3 exFAT, 4 NTFS): its metadata and the first sectors of its data. One HFS+ volume records a file's
    size as 2^63 - 1."""
    out = {}
    for name in ('plain', 'journaled'):
        data = image('hfsplus/' + name)
        total = len(data) // 512
        out['hfsplus-' + name] = b'\x00' + fold(data, hfs_sectors(data, 16), header=device_header(512, total))
    # The plain volume with the data fork of notes.txt (5000 bytes) recorded as 2^63 - 1 bytes long.
    data = bytearray(image('hfsplus/plain'))
    h = data[1024:1536]
    block = struct.unpack_from('>I', h, 40)[0]
    start = struct.unpack_from('>I', h, 0x110 + 16)[0]
    count = struct.unpack_from('>I', h, 0x110 + 20)[0]
    patched = 0
    for at in range(start * block, (start + count) * block - 248):
        if data[at:at + 2] == b'\x00\x02' and struct.unpack_from('>Q', data, at + 88)[0] == 5000:
            struct.pack_into('>Q', data, at + 88, (1 << 63) - 1)
            patched += 1
    if patched:
        out['hfsplus-huge-size'] = b'\x00' + fold(bytes(data), hfs_sectors(bytes(data), 16),
                                                    header=device_header(512, len(data) // 512))
    for kind, name in ((1, 'fat16'), (2, 'fat32')):
        data = image('fat/' + name)
        fat = Fat(data)
        first = (fat.root_byte - fat.base) // fat.bps
        wanted = [0] + list(range(fat.table_byte // fat.bps, fat.table_byte // fat.bps + 8)) + \
            list(range(first, first + 128))
        out[name] = bytes([kind]) + fold(data, wanted, fat.bps, device_header(fat.bps, len(data) // fat.bps))
    data = image('exfat/exfat-4k')
    bps, sc = 1 << data[108], data[109]
    fat, heap = struct.unpack_from('<I', data, 80)[0], struct.unpack_from('<I', data, 88)[0]
    wanted = list(range(24)) + list(range(fat, fat + 8)) + list(range(heap, heap + 96))
    out['exfat-4k'] = b'\x03' + fold(data, wanted, bps, device_header(bps, len(data) // bps))
    ntfs = Ntfs(image('ntfs/ntfs512'))
    first = ntfs.mft_byte // ntfs.bps
    wanted = [0] + list(range(first, first + 96 * ntfs.record_size // ntfs.bps))
    out['ntfs512'] = b'\x04' + fold(ntfs.data, wanted, ntfs.bps, device_header(ntfs.bps, len(ntfs.data) // ntfs.bps))
    return out


HARNESSES = {
    'apfs_container': seeds_apfs_container,
    'carve_camera': seeds_carve_camera,
    'carve_office': seeds_carve_office,
    'carve_pictures': seeds_carve_pictures,
    'compressed_file': seeds_compressed_file,
    'dmg_image': seeds_dmg_image,
    'exfat_boot': seeds_exfat_boot,
    'exfat_entries': seeds_exfat_entries,
    'exif': seeds_exif,
    'fat_deep': seeds_fat_deep,
    'fat_folder': seeds_fat_folder,
    'fat_table': seeds_fat_table,
    'hfsplus_volume': seeds_hfsplus_volume,
    'ini': seeds_ini,
    'jpeg_carve': seeds_jpeg_carve,
    'jpeg_size': seeds_jpeg_size,
    'lznt1': seeds_lznt1,
    'ntfs_dataruns': seeds_ntfs_dataruns,
    'ntfs_deep': seeds_ntfs_deep,
    'ntfs_index': seeds_ntfs_index,
    'ntfs_log': seeds_ntfs_log,
    'ntfs_record': seeds_ntfs_record,
    'partition_table': seeds_partition_table,
    'plist': seeds_plist,
    'recovery': seeds_recovery,
    'recycle_record': seeds_recycle_record,
    'saved_results': seeds_saved_results,
    'store_carve': seeds_store_carve,
    'volume_recognition': seeds_volume_recognition,
}


def main(names):
    for name in names or sorted(HARNESSES):
        folder = SEEDS / name
        folder.mkdir(parents=True, exist_ok=True)
        for old in folder.iterdir():
            old.unlink()
        for seed, data in sorted(HARNESSES[name]().items()):
            (folder / seed).write_bytes(data)
        print(f'{name}: {len(list(folder.iterdir()))} seeds')


if __name__ == '__main__':
    main(sys.argv[1:])
