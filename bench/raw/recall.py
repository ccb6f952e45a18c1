#!/usr/bin/env python3
"""Recall of a carver's output against the image manifest.

   recall.py MANIFEST TOOL OUTDIR     (TOOL: brelvox, photorec or foremost)

A planted JPEG counts as found when a recovered JPEG starts at its sector (the tools name files by
their start sector; a file named without it, as a photo sized from the device is named after its camera
model, is matched by its content: it begins with all the bytes of a planted file), as whole when the recovered file begins with all its planted bytes (a viewer shows
it; bytes after its end marker are ignored), and as exact when the recovered bytes are the planted ones
(same SHA-256, same size). Prints one line:
  planted N found F whole W exact E other O recall_whole RW recall_exact RE
"""
import hashlib
import os
import re
import sys

PATTERNS = {
    # "<camera>_<model>_<start>-<end><counter>.JPG" or "<start>-<end><counter>.JPG", maybe "_NNNN" for a clash
    'brelvox': re.compile(r'(?:^|_)(\d+)-\d+(?:_\d{4})?\.JPG$'),
    'photorec': re.compile(r'^f(\d+)(?:_[^.]*)?\.jpg$'),
    'foremost': re.compile(r'^(\d+)\.jpg$'),
}


def match_by_content(path, planted):
    """The start sector of the planted file whose bytes begin the file at path, or None."""
    with open(path, 'rb') as f:
        data = f.read()
    digests = {}
    for start, (size, sha) in planted.items():
        if size > len(data):
            continue
        if size not in digests:
            digests[size] = hashlib.sha256(data[:size]).hexdigest()
        if digests[size] == sha:
            return start
    return None


def main():
    manifest, tool, outdir = sys.argv[1:4]
    planted = {}
    for line in open(manifest):
        if line.startswith('#') or not line.strip():
            continue
        start, size, sha = line.split('\t')[:3]
        planted[int(start)] = (int(size), sha)
    pattern = PATTERNS[tool]
    found, whole, exact, other = set(), set(), set(), 0
    unnamed = []
    for folder, _, files in os.walk(outdir):
        for name in files:
            m = pattern.search(name)
            if not m:
                if name.lower().endswith('.jpg'):
                    unnamed.append(os.path.join(folder, name))
                continue
            start = int(m.group(1))
            if start not in planted:
                other += 1
                continue
            found.add(start)
            size, sha = planted[start]
            with open(os.path.join(folder, name), 'rb') as f:
                data = f.read()
            if hashlib.sha256(data[:size]).hexdigest() == sha:
                whole.add(start)
                if len(data) == size:
                    exact.add(start)
    for path in unnamed:
        start = match_by_content(path, planted)
        if start is None:
            other += 1
            continue
        found.add(start)
        whole.add(start)
        if os.path.getsize(path) == planted[start][0]:
            exact.add(start)
    n = len(planted)
    print('planted %d found %d whole %d exact %d other %d recall_whole %.4f recall_exact %.4f' %
          (n, len(found), len(whole), len(exact), other, len(whole) / n if n else 0.0, len(exact) / n if n else 0.0))
    missing = sorted(set(planted) - exact)
    if missing and os.environ.get('RECALL_VERBOSE'):
        print('not exact:', ' '.join(map(str, missing[:40])), file=sys.stderr)


if __name__ == '__main__':
    main()
