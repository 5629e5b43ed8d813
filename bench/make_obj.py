#!/usr/bin/env python3
"""Writes a Wavefront OBJ torus of about N triangles into OUTDIR and prints the file's name."""
import math
import os
import sys


def torus(n):
    rings = max(3, int(round(math.sqrt(n / 2.0))))
    sides = max(3, int(math.ceil(n / 2.0 / rings)))
    verts = []
    for i in range(rings):
        u = 2 * math.pi * i / rings
        cu, su = math.cos(u), math.sin(u)
        for j in range(sides):
            v = 2 * math.pi * j / sides
            r = 3.0 + math.cos(v)
            verts.append((r * cu, r * su, math.sin(v)))
    tris = []
    for i in range(rings):
        i2 = (i + 1) % rings
        for j in range(sides):
            j2 = (j + 1) % sides
            a, b = i * sides + j, i2 * sides + j
            c, d = i2 * sides + j2, i * sides + j2
            tris.append((a, b, c))
            tris.append((a, c, d))
    return verts, tris


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
