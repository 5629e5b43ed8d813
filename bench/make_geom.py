#!/usr/bin/env python3
"""make_geom.py N OUTDIR: writes OUTDIR/bench_N.geom, a text geometry file of about N triangles
(a closed torus mesh, indices from 1), and prints the file's name."""
import math
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_geom.py N OUTDIR")
    n = max(int(sys.argv[1]), 8)
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    # rings x sides quads, two triangles each.
    sides = max(4, int(math.sqrt(n / 2 / 2)))
    rings = max(4, n // (2 * sides))
    name = os.path.join(out, "bench_%d.geom" % n)
    for side in (".aoff", ".pnorm", ".vnorm"):
        try:
            os.remove(name[:-5] + side)
        except FileNotFoundError:
            pass
    lines = []
    nv = rings * sides
    nt = 2 * rings * sides
    lines.append("%d\t%d\t%d\n" % (nv, nt, 3 * nt))
    for i in range(rings):
        u = 2 * math.pi * i / rings
        cu, su = math.cos(u), math.sin(u)
        for j in range(sides):
            v = 2 * math.pi * j / sides
            r = 1.5 + 0.5 * math.cos(v)
            lines.append("%.6f\t%.6f\t%.6f\n" % (r * cu, r * su, 0.5 * math.sin(v)))
    for i in range(rings):
        i1 = (i + 1) % rings
        for j in range(sides):
            j1 = (j + 1) % sides
            a = i * sides + j + 1
            b = i1 * sides + j + 1
            c = i1 * sides + j1 + 1
            d = i * sides + j1 + 1
            lines.append("3\t%d %d %d \n3\t%d %d %d \n" % (a, b, c, a, c, d))
    with open(name, "w") as f:
        f.writelines(lines)
    print(name)


if __name__ == "__main__":
    main()
