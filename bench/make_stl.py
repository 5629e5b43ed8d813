#!/usr/bin/env python3
"""Writes a binary STL torus of about N triangles into OUTDIR and prints the file's name."""
import math
import os
import struct
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_stl.py N OUTDIR")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    rings = max(3, int(round(math.sqrt(n / 2.0))))
    sides = max(3, int(math.ceil(n / 2.0 / rings)))
    pts = []
    for i in range(rings):
        u = 2 * math.pi * i / rings
        cu, su = math.cos(u), math.sin(u)
        for j in range(sides):
            v = 2 * math.pi * j / sides
            r = 3.0 + math.cos(v)
            pts.append((r * cu, r * su, math.sin(v)))
    count = 2 * rings * sides
    os.makedirs(outdir, exist_ok=True)
    path = os.path.join(outdir, "torus%d.stl" % count)
    facet = struct.Struct("<12fxx")
    with open(path, "wb") as f:
        f.write(b"binary torus".ljust(80, b" "))
        f.write(struct.pack("<I", count))
        out = []
        for i in range(rings):
            i2 = (i + 1) % rings
            for j in range(sides):
                j2 = (j + 1) % sides
                a, b = pts[i * sides + j], pts[i2 * sides + j]
                c, d = pts[i2 * sides + j2], pts[i * sides + j2]
                out.append(facet.pack(0, 0, 0, *a, *b, *c))
                out.append(facet.pack(0, 0, 0, *a, *c, *d))
            if len(out) > 65536:
                f.write(b"".join(out))
                out = []
        f.write(b"".join(out))
    print(os.path.basename(path))


if __name__ == "__main__":
    main()
