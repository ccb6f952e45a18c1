#!/usr/bin/env python3
"""Writes the quick-scan benchmarks' tree: FILES small files with long names in folders of PER files,
under ROOT/tree. Usage: make-tree.py ROOT FILES PER"""
import os
import sys

root, files, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    d = os.path.join(root, 'tree', 'folder %04d' % (i // per))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'a file with a long name %06d.txt' % i), 'w') as f:
        f.write('content of file %d\n' % i)
