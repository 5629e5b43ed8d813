#!/usr/bin/env python3
"""Writes a binary STL torus of about N triangles into OUTDIR and prints the file's name."""
import os
import struct
import sys

from make_off import torus


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_stl.py N OUTDIR")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    pts, tris = torus(n)
    os.makedirs(outdir, exist_ok=True)
    path = os.path.join(outdir, "torus%d.stl" % len(tris))
    facet = struct.Struct("<12fxx")
    with open(path, "wb") as f:
        f.write(b"binary torus".ljust(80, b" "))
        f.write(struct.pack("<I", len(tris)))
        for start in range(0, len(tris), 65536):
            f.write(b"".join(facet.pack(0, 0, 0, *pts[a], *pts[b], *pts[c])
                             for a, b, c in tris[start:start + 65536]))
    print(os.path.basename(path))


if __name__ == "__main__":
    main()
