#!/usr/bin/env python3
"""Writes a Wavefront OBJ torus of about N triangles into OUTDIR and prints the file's name."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_off import torus  # noqa: E402  the same torus as the OFF benchmark


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_obj.py N OUTDIR")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    verts, tris = torus(n)
    os.makedirs(outdir, exist_ok=True)
    path = os.path.join(outdir, "torus%d.obj" % len(tris))
    with open(path, "w") as f:
        f.write("# torus: %d vertices, %d triangles\no torus\n" % (len(verts), len(tris)))
        f.write("".join("v %.6f %.6f %.6f\n" % v for v in verts))
        # OBJ indices count from 1.
        f.write("".join("f %d %d %d\n" % (a + 1, b + 1, c + 1) for a, b, c in tris))
    print(os.path.basename(path))


if __name__ == "__main__":
    main()
