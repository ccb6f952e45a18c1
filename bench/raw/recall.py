#!/usr/bin/env python3
"""Recall of a carver's output against the image manifest, in all and per type.

   recall.py MANIFEST TOOL OUTDIR     (TOOL: brelvox, photorec or foremost)
   recall.py --compare MANIFEST brelvox OURS_OUTDIR PEER_OUTDIR|-   exact recall per type, ours and PhotoRec's

A planted file counts as found when a recovered file starts at its sector (the tools name files by their
start sector; a file named without it, as a photo sized from the device is named after its camera model
or a document after its title, is matched by its content: it begins with all the bytes of a planted
file), as whole when the recovered file begins with all its planted bytes (bytes after its end are
ignored), and as exact when the recovered bytes are the planted ones (same SHA-256, same size).
Prints one line for all types:
  planted N found F whole W exact E other O recall_whole RW recall_exact RE
then, when the manifest has a type column, one line per type:
  TYPE planted N found F whole W exact E recall_exact RE
"""
import collections
import hashlib
import os
import re
import sys

PATTERNS = {
    # "<tags>_<start>-<end><counter>.<EXT>" or "<start>-<end><counter>.<EXT>" (a "_" or "." may stand
    # before the counter), maybe "_NNNN" for a clash
    'brelvox': re.compile(r'(?:^|_)(\d+)-\d+[_.]?\d{3,}(?:_\d{4})?\.\w+$'),
    'photorec': re.compile(r'^f(\d+)(?:_[^.]*)?\.\w+$'),
    'foremost': re.compile(r'^(\d+)\.\w+$'),
}
HEAD = 64


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def evaluate(manifest, tool, outdir):
    """found, whole, exact (sets of planted starts), other, planted and types of the manifest."""
    planted = {}
    types = {}
    for line in open(manifest):
        if line.startswith('#') or not line.strip():
            continue
        fields = line.rstrip('\n').split('\t')
        start, size, sha = int(fields[0]), int(fields[1]), fields[2]
        planted[start] = (size, sha)
        types[start] = fields[4] if len(fields) > 4 else 'JPG'
    pattern = PATTERNS[tool]
    found, whole, exact, other = set(), set(), set(), 0
    unnamed = []
    for folder, _, files in os.walk(outdir):
        for name in files:
            if name in ('report.xml', 'audit.txt', 'photorec.ses', 'photorec.log'):
                continue  # the peers' own reports
            path = os.path.join(folder, name)
            m = pattern.search(name)
            start = int(m.group(1)) if m else None
            if start not in planted:
                unnamed.append(path)
                continue
            found.add(start)
            size, sha = planted[start]
            data = read(path)
            if hashlib.sha256(data[:size]).hexdigest() == sha:
                whole.add(start)
                if len(data) == size:
                    exact.add(start)
    # Files named without a planted start: matched by their first bytes (read from the image beside the
    # manifest), then by the whole planted file.
    by_head = collections.defaultdict(list)
    if unnamed:
        with open(manifest[:-len('.manifest.tsv')], 'rb') as image:
            for start, (size, _) in planted.items():
                image.seek(start * 512)
                by_head[image.read(min(size, HEAD))].append(start)
    for path in unnamed:
        data = read(path)
        match = None
        for start in by_head.get(data[:HEAD], []) + [s for h, v in by_head.items() if len(h) < HEAD for s in v]:
            size, sha = planted[start]
            if start not in whole and size <= len(data) and hashlib.sha256(data[:size]).hexdigest() == sha:
                match = start
                break
        if match is None:
            other += 1
            continue
        found.add(match)
        whole.add(match)
        if len(data) == planted[match][0]:
            exact.add(match)
    return found, whole, exact, other, planted, types


def compare(manifest, ours, peer):
    """Exact recall per type, ours against the peer's ("peer not installed" when it has no output)."""
    _, _, exact, _, planted, types = evaluate(manifest, 'brelvox', ours)
    peer_exact = evaluate(manifest, 'photorec', peer)[2] if peer != '-' else None
    per = collections.defaultdict(list)
    for start, kind in types.items():
        per[kind].append(start)
    below = []
    for kind in sorted(per):
        starts = set(per[kind])
        ours_r = len(starts & exact) / len(starts)
        if peer_exact is None:
            print('  %-8s planted %5d exact ours %.4f  peer not installed' % (kind, len(starts), ours_r))
            continue
        peer_r = len(starts & peer_exact) / len(starts)
        mark = '' if ours_r >= peer_r else '  BELOW PEER'
        if mark:
            below.append(kind)
        print('  %-8s planted %5d exact ours %.4f photorec %.4f%s' % (kind, len(starts), ours_r, peer_r, mark))
    if peer_exact is not None:
        print('  types below the peer: %s' % (' '.join(below) if below else 'none'))


def main():
    if sys.argv[1] == '--compare':
        compare(sys.argv[2], sys.argv[4], sys.argv[5])
        return
    manifest, tool, outdir = sys.argv[1:4]
    found, whole, exact, other, planted, types = evaluate(manifest, tool, outdir)
    n = len(planted)
    print('planted %d found %d whole %d exact %d other %d recall_whole %.4f recall_exact %.4f' %
          (n, len(found), len(whole), len(exact), other, len(whole) / n if n else 0.0, len(exact) / n if n else 0.0))
    per = collections.defaultdict(list)
    for start, kind in types.items():
        per[kind].append(start)
    if len(per) > 1 or os.environ.get('RECALL_PER_TYPE'):
        for kind in sorted(per):
            starts = set(per[kind])
            k = len(starts)
            print('  %-6s planted %5d found %5d whole %5d exact %5d recall_exact %.4f' %
                  (kind, k, len(starts & found), len(starts & whole), len(starts & exact),
                   len(starts & exact) / k if k else 0.0))
    missing = sorted(set(planted) - exact)
    if missing and os.environ.get('RECALL_VERBOSE'):
        print('not exact:', ' '.join(map(str, missing[:40])), file=sys.stderr)


if __name__ == '__main__':
    main()
