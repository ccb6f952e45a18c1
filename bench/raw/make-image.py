#!/usr/bin/env python3
"""Lays out a deterministic carving benchmark image and its manifest.

   make-image.py --pool DIR --size 2G --out IMAGE [--profile mixed|zeros|random|text|guesses|mp3-stress] [--seed N]

mixed: about a third planted files from the pool (every file of the pool, of every type, equally likely;
a JPEG copy made unique by a comment segment of its own length; each starting at a sector, its tail
zero-padded to the sector end), a third zeros, two ninths random bytes and a ninth text, in runs of
random length. zeros, random and text fill the whole image with one kind. guesses: the first 8 sectors of 32
Exif photos (whose end is never found, so 32 guesses stay open to the cap) at the start, random bytes
(guesses-zeros: zeros) after them: the cost of open guesses per sector.
The manifest (IMAGE.manifest.tsv) lists start sector, size, SHA-256, pool file and type (the pool
file's extension in upper case) of every planted file.
"""
import argparse
import glob
import hashlib
import os
import random

SECTOR = 512


def parse_size(text):
    units = {'K': 1 << 10, 'M': 1 << 20, 'G': 1 << 30}
    return int(text[:-1]) * units[text[-1].upper()] if text[-1].upper() in units else int(text)


def unique_copy(data, tag):
    """The JPEG with a comment segment of its own after the leading APP0/APP1 segments (or the first one)."""
    at = 2
    while data[at] == 0xFF and data[at + 1] in (0xE0, 0xE1):
        at += 2 + (data[at + 2] << 8 | data[at + 3])
    if at == 2:  # no APPn: keep the leading quantisation table, as encoders write it
        at += 2 + (data[4] << 8 | data[5])
    body = b'bench copy %d ' % tag
    body += b'.' * (tag * 37 % 700)
    return data[:at] + b'\xff\xfe' + (len(body) + 2).to_bytes(2, 'big') + body + data[at:]


def text_block(rng, n):
    words = (b"the of and to in is that it was for on are as with his they at be this from have or by one had "
             b"not but what all were when we there can an your which their said if do will each about how up "
             b"out them then she many some so these would other into has more her two like him see time could "
             b"no make than first been its who now people my made over did down only way find use may water long "
             b"little very after words called just where most know get through back much go good new write our").split()
    out = bytearray()
    while len(out) < n:
        line = b' '.join(rng.choice(words) for _ in range(rng.randint(6, 16)))
        out += line[:1].upper() + line[1:] + b'.\n'
    return bytes(out[:n])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--pool', required=True)
    ap.add_argument('--size', required=True)
    ap.add_argument('--out', required=True)
    ap.add_argument('--profile', default='mixed', choices=['mixed', 'zeros', 'random', 'text', 'guesses', 'guesses-zeros', 'mp3-stress'])
    ap.add_argument('--seed', type=int, default=20240609)
    args = ap.parse_args()
    total = parse_size(args.size) // SECTOR * SECTOR
    rng = random.Random(args.seed)
    pool = sorted(p for p in glob.glob(os.path.join(args.pool, '*'))
                  if os.path.isfile(p) and not os.path.basename(p).startswith(('.', '_')))
    if args.profile not in ('zeros', 'random', 'text') and not pool:
        raise SystemExit('no pool files in ' + args.pool)
    photos = [(os.path.basename(p), open(p, 'rb').read()) for p in pool]
    texts = text_block(rng, 8 << 20)
    rows = []
    written = 0
    budget = {'jpeg': total // 3, 'zeros': total // 3, 'random': total * 2 // 9, 'text': total // 9}
    if args.profile != 'mixed':
        budget = {k: (total if k == args.profile else 0) for k in budget}
    run_max = {'zeros': 16 << 20, 'random': 8 << 20, 'text': 2 << 20}
    with open(args.out, 'wb') as img:
        def put(data):
            nonlocal written
            data = data[:total - written]
            img.write(data)
            written += len(data)

        if args.profile.startswith('guesses'):
            heads = [d for n, d in photos if n.endswith('.jpg') and ('-f0' in n or '-f1' in n)]
            for k in range(32):
                put(unique_copy(heads[k % len(heads)], k)[:8 * SECTOR])
            rest = 'zeros' if args.profile == 'guesses-zeros' else 'random'
            budget = {k: (total - written if k == rest else 0) for k in budget}
        if args.profile == 'mp3-stress':
            # 64 MP3s cut in pieces of 8 sectors and interleaved: 64 open guesses at once, every frame
            # start in them a candidate; random bytes after.
            mp3s = [d for n, d in photos if n.endswith('.mp3')]
            if not mp3s:
                raise SystemExit('no MP3s in the pool')
            files = [mp3s[k % len(mp3s)] for k in range(64)]
            piece = 8 * SECTOR
            for r in range(max(len(f) for f in files) // piece + 1):
                for f in files:
                    chunk = f[r * piece:(r + 1) * piece]
                    if chunk:
                        put(chunk + b'\0' * (-len(chunk) % SECTOR))
            budget = {k: (total - written if k == 'random' else 0) for k in budget}
        while written < total:
            kinds = [k for k, v in budget.items() if v > 0]
            if not kinds:
                kinds = ['zeros']
                budget['zeros'] = total
            kind = rng.choices(kinds, [budget[k] for k in kinds])[0]
            if kind == 'jpeg':
                name, data = photos[rng.randrange(len(photos))]
                if name.endswith('.jpg'):
                    data = unique_copy(data, len(rows))
                padded = data + b'\0' * (-len(data) % SECTOR)
                if written + len(padded) > total:
                    budget['jpeg'] = 0
                    continue
                rows.append((written // SECTOR, len(data), hashlib.sha256(data).hexdigest(), name,
                             os.path.splitext(name)[1][1:].upper()))
                put(padded)
                budget['jpeg'] -= len(padded)
                continue
            n = min(rng.randint(8, run_max[kind] // SECTOR), max(budget[kind] // SECTOR, 1)) * SECTOR
            if kind == 'zeros':
                put(b'\0' * n)
            elif kind == 'random':
                put(rng.randbytes(n))
            else:
                start = rng.randrange(len(texts) - min(n, len(texts) - 1))
                chunk = texts[start:start + n]
                put(chunk + b'\0' * (n - len(chunk)))
            budget[kind] -= n
    with open(args.out + '.manifest.tsv', 'w') as f:
        f.write('# start_sector\tsize\tsha256\tpool_file\ttype\n')
        for r in rows:
            f.write('%d\t%d\t%s\t%s\t%s\n' % r)
    print('%s: %d bytes, %d planted files (%d bytes)' % (args.out, total, len(rows), sum(r[1] for r in rows)))


if __name__ == '__main__':
    main()
