#!/usr/bin/env python3
"""Makes the APFS deep-scan benchmark disk (sparse, no partition table).

Usage: make-disk.py --out DISK --size 2G --nodes 100000 [--shared IMAGE]

IMAGE (apfs-1g-sparse.img) goes to sector 2048 when given. After it, 1 MiB aligned, comes a synthetic
container: the committed apfs-records container (tests/fixtures/apfs) whose superblocks claim every
block up to the disk's end, with NODES stand-alone file-system tree leaves spread evenly over its free
blocks. Each leaf holds one file (inode, data stream, extent) whose parent folder never appears: the node waits through every
flush of the scan and is handed over only at the final one (a "never-ready" node). Prints the
container's start sector and the number of nodes written.
"""
import argparse
import importlib
import lzma
import os
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))
fixtures = os.path.join(here, '..', '..', 'tests', 'fixtures', 'apfs')
sys.dont_write_bytecode = True  # keep the fixtures folder clean
sys.path.insert(0, fixtures)
inject = importlib.import_module('apfs-inject')
BS = inject.BS


def size_of(text):
    units = {'K': 1 << 10, 'M': 1 << 20, 'G': 1 << 30}
    return int(text[:-1]) * units[text[-1]] if text[-1] in units else int(text)


def copy_sparse(src, fd, at):
    with open(src, 'rb') as f:
        end = os.fstat(f.fileno()).st_size
        pos = 0
        while pos < end:
            try:
                data = os.lseek(f.fileno(), pos, os.SEEK_DATA)
            except OSError:
                break
            hole = min(os.lseek(f.fileno(), data, os.SEEK_HOLE), end)
            f.seek(data)
            while data < hole:
                chunk = f.read(min(1 << 20, hole - data))
                os.pwrite(fd, chunk, at + data)
                data += len(chunk)
            pos = hole


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    parser.add_argument('--size', default='2G')
    parser.add_argument('--nodes', type=int, default=100000)
    parser.add_argument('--shared')
    args = parser.parse_args()
    size = size_of(args.size)
    records = lzma.open(os.path.join(fixtures, 'apfs-records.img.xz')).read()
    used = len(records) // BS

    fd = os.open(args.out, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o644)
    os.ftruncate(fd, size)
    start = 2048 * 512
    if args.shared:
        copy_sparse(args.shared, fd, start)
        start += (os.path.getsize(args.shared) + (1 << 20) - 1) // (1 << 20) * (1 << 20) + (1 << 20)
    blocks = (size - start) // BS
    room = blocks - used
    if room < args.nodes:
        raise SystemExit('the disk has room for %d nodes only' % room)

    # The container: its superblocks (block 0 and the checkpoint copies) claim every block to the end.
    image = bytearray(records)
    for b in range(used):
        if image[b * BS + 32:b * BS + 36] == b'NXSB':
            struct.pack_into('<Q', image, b * BS + 40, blocks)
            inject.seal(memoryview(image)[b * BS:(b + 1) * BS])
    for offset in range(0, len(image), 1 << 20):
        piece = bytes(image[offset:offset + (1 << 20)])
        if piece.count(0) != len(piece):
            os.pwrite(fd, piece, start + offset)

    # The never-ready leaves: one file each (its data in the next block), whose parent folder is never
    # seen; virtual objects whose oid is their block.
    stride = room // max(args.nodes, 1)
    if stride < 2:
        raise SystemExit('the disk has room for %d nodes only' % (room // 2))
    for k in range(args.nodes):
        block = used + k * stride
        name = 'waiting %06d.bin' % k
        data = (name + '\n').encode() * (BS // (len(name) + 1))
        volume = inject.Volume()
        volume.file(50000000 + k, 1000000 + k, name, data, [(0, BS, block + 1)], 'deleted', name, with_drec=False)
        node = inject.build_node(volume.records, 2, block, 1, 3, 0)
        inject.seal(node)
        os.pwrite(fd, node, start + block * BS)
        os.pwrite(fd, data + bytes(BS - len(data)), start + (block + 1) * BS)
    os.close(fd)
    print(start // 512, args.nodes)


if __name__ == '__main__':
    main()
