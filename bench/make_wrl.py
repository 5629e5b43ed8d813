#!/usr/bin/env python3
"""Writes a VRML 2.0 world of about N triangles (a rippled sheet) into OUTDIR; prints its name.

Loading it runs the converter beside the viewer (build target mirandel-wrl2geom)."""
import math
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_wrl.py N OUTDIR")
    n = max(2, int(sys.argv[1]))
    outdir = sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    side = max(1, int(math.sqrt(n / 2)))  # side x side quads, two triangles each
    rows = max(1, n // (2 * side))
    name = "bench_%d.wrl" % n
    path = os.path.join(outdir, name)
    with open(path, "w") as out:
        out.write("#VRML V2.0 utf8\n# %d triangles\n" % (2 * side * rows))
        out.write("Transform { scale 2 2 2 children [\nShape { geometry IndexedFaceSet {\n")
        out.write("coord Coordinate { point [\n")
        for j in range(rows + 1):
            y = j / rows
            out.write(",\n".join(
                "%.6f %.6f %.6f" % (i / side, y, 0.05 * math.sin(7 * i / side) * math.cos(5 * y))
                for i in range(side + 1)))
            out.write(",\n")
        out.write("] }\ncoordIndex [\n")
        w = side + 1
        for j in range(rows):
            line = []
            for i in range(side):
                a = j * w + i
                line.append("%d %d %d -1 %d %d %d -1" % (a, a + 1, a + w + 1, a, a + w + 1, a + w))
            out.write(" ".join(line))
            out.write("\n")
        out.write("] } }\n] }\n")
    print(name)


if __name__ == "__main__":
    main()
