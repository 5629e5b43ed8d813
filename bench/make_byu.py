#!/usr/bin/env python3
"""Writes a BYU object of about N triangles (a wavy grid) into OUTDIR and prints its file name.

Usage: make_byu.py N OUTDIR
Vertices are written six numbers to a line in E format, as Fortran programs write them.
"""
import math
import os
import sys


def grid_size(n):
    side = max(1, int(math.ceil(math.sqrt(max(n, 2) / 2.0))))
    return side, side


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_byu.py N OUTDIR")
    n = int(sys.argv[1])
    outdir = sys.argv[2]
    w, h = grid_size(n)
    nv = (w + 1) * (h + 1)
    npoly = 2 * w * h
    name = "grid%d.byu" % npoly
    path = os.path.join(outdir, name)
    with open(path, "w") as f:
        f.write("%6d %6d %6d %6d\n" % (1, nv, npoly, 3 * npoly))
        f.write("%6d %6d\n" % (1, npoly))
        coords = []
        for j in range(h + 1):
            y = j / h
            for i in range(w + 1):
                x = i / w
                coords.extend((x, y, 0.05 * math.sin(6.0 * x) * math.cos(6.0 * y)))
        lines = []
        for k in range(0, len(coords), 6):
            lines.append(" ".join("%12.5E" % c for c in coords[k:k + 6]))
        f.write("\n".join(lines))
        f.write("\n")
        out = []
        for j in range(h):
            row = j * (w + 1) + 1
            for i in range(w):
                a = row + i
                b = a + 1
                c = a + w + 1
                d = c + 1
                out.append("%d %d %d\n%d %d %d\n" % (a, b, -d, a, d, -c))
            if len(out) > 4096:
                f.write("".join(out))
                out = []
        f.write("".join(out))
    print(name)


if __name__ == "__main__":
    main()
