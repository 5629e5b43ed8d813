#!/usr/bin/env python3
"""Writes STL tori of about N triangles into OUTDIR and prints their file names.

Usage: make_stl.py N OUTDIR [binary|ascii]
Without the third argument both torusN.stl (binary) and torusN_ascii.stl are written, binary first.
"""
import os
import struct
import sys

from make_off import torus


def write_binary(path, pts, tris):
    facet = struct.Struct("<12fxx")
    with open(path, "wb") as f:
        f.write(b"binary torus".ljust(80, b" "))
        f.write(struct.pack("<I", len(tris)))
        for start in range(0, len(tris), 65536):
            f.write(b"".join(facet.pack(0, 0, 0, *pts[a], *pts[b], *pts[c])
                             for a, b, c in tris[start:start + 65536]))


def write_ascii(path, pts, tris):
    # As CAD tools write it: a normal line, an outer loop of three vertices, "%e" numbers.
    text = ["%e %e %e" % tuple(p) for p in pts]
    with open(path, "w") as f:
        f.write("solid torus\n")
        for start in range(0, len(tris), 65536):
            f.write("".join(
                "  facet normal 0.000000e+00 0.000000e+00 0.000000e+00\n    outer loop\n"
                "      vertex %s\n      vertex %s\n      vertex %s\n    endloop\n  endfacet\n"
                % (text[a], text[b], text[c]) for a, b, c in tris[start:start + 65536]))
        f.write("endsolid torus\n")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: make_stl.py N OUTDIR [binary|ascii]")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    which = sys.argv[3] if len(sys.argv) == 4 else "both"
    if which not in ("both", "binary", "ascii"):
        sys.exit("the third argument is binary or ascii")
    pts, tris = torus(n)
    os.makedirs(outdir, exist_ok=True)
    if which in ("both", "binary"):
        name = "torus%d.stl" % len(tris)
        write_binary(os.path.join(outdir, name), pts, tris)
        print(name)
    if which in ("both", "ascii"):
        name = "torus%d_ascii.stl" % len(tris)
        write_ascii(os.path.join(outdir, name), pts, tris)
        print(name)


if __name__ == "__main__":
    main()
