#!/usr/bin/env python3
"""Times the end phase of a deep scan: from the line the signature search prints when it starts sizing
its leftover records from the device ("EndSearch:401:list size = N") to the line it prints when done
("EndSearch:436").

   end-phase.py DRIVER [ARGS...]     (the driver writes the engine's messages to its error output,
                                      read line by line)
Prints: end phase S s, N leftover records, scan W s
"""
import re
import subprocess
import sys
import time


def main():
    begun = time.monotonic()
    proc = subprocess.Popen(['stdbuf', '-oL'] + sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            text=True)
    start = end = None
    records = 0
    for line in proc.stderr:
        m = re.search(r'EndSearch:401:list size = (\d+)', line)
        if m:
            start, records = time.monotonic(), int(m.group(1))
        elif 'EndSearch:436' in line and start is not None:
            end = time.monotonic()
    proc.wait()
    if start is None or end is None:
        print('end phase: not seen (exit %d)' % proc.returncode)
        return 1
    print('end phase %.2f s, %d leftover records, scan %.2f s' % (end - start, records, time.monotonic() - begun))
    return 0


if __name__ == '__main__':
    sys.exit(main())
