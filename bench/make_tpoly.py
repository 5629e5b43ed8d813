#!/usr/bin/env python3
"""Writes a TPOLY object of about N triangles (a wavy grid) into OUTDIR and prints its file name.

Usage: make_tpoly.py N OUTDIR
Every triangle carries its own three points.
"""
import math
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_tpoly.py N OUTDIR")
    n = int(sys.argv[1])
    outdir = sys.argv[2]
    side = max(1, int(math.ceil(math.sqrt(max(n, 2) / 2.0))))
    ntri = 2 * side * side
    name = "grid%d.tpoly" % ntri
    path = os.path.join(outdir, name)

    def point(i, j):
        x = i / side
        y = j / side
        return "%.6f %.6f %.6f\n" % (x, y, 0.05 * math.sin(6.0 * x) * math.cos(6.0 * y))

    with open(path, "w") as f:
        out = []
        for j in range(side):
            row = [point(i, j) for i in range(side + 1)]
            up = [point(i, j + 1) for i in range(side + 1)]
            for i in range(side):
                a, b, c, d = row[i], row[i + 1], up[i], up[i + 1]
                out.append("3\n" + a + b + d + "3\n" + a + d + c)
            f.write("".join(out))
            out = []
    print(name)


if __name__ == "__main__":
    main()
