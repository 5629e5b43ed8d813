#!/usr/bin/env python3
"""Writes the sample objects of this directory: cube.geom, torus.geom and the coloured,
clockwise-wound prism.geom with its header prism.aoff. Loading a sample once writes its side files
(.aoff, .pnorm, .vnorm); those are kept with the samples so that a read-only checkout shows them
without writing anything."""
import math
import os
import sys


def write_geom(path, points, polygons):
    with open(path, "w") as f:
        f.write("%d\t%d\t%d\n" % (len(points), len(polygons), sum(len(p) for p in polygons)))
        for p in points:
            f.write("%.6f\t%.6f\t%.6f\n" % p)
        for poly in polygons:
            f.write("%d\t" % len(poly) + "".join("%d " % i for i in poly) + "\n")


def cube():
    pts = [(x, y, z) for z in (0, 1) for y in (0, 1) for x in (0, 1)]
    pts = [pts[i] for i in (0, 1, 3, 2, 4, 5, 7, 6)]
    # One-based indices, counter-clockwise seen from outside.
    quads = [(1, 4, 3, 2), (5, 6, 7, 8), (1, 2, 6, 5), (2, 3, 7, 6), (3, 4, 8, 7), (4, 1, 5, 8)]
    return pts, quads


def torus(rings=64, sides=40, big=1.5, small=0.5):
    pts = []
    for i in range(rings):
        u = 2 * math.pi * i / rings
        for j in range(sides):
            v = 2 * math.pi * j / sides
            r = big + small * math.cos(v)
            pts.append((r * math.cos(u), r * math.sin(u), small * math.sin(v)))
    quads = []
    for i in range(rings):
        for j in range(sides):
            a = i * sides + j
            b = ((i + 1) % rings) * sides + j
            c = ((i + 1) % rings) * sides + (j + 1) % sides
            d = i * sides + (j + 1) % sides
            quads.append((a + 1, b + 1, c + 1, d + 1))
    return pts, quads


def prism(n=6):
    # A hexagonal prism wound clockwise (seen from outside), declared so in its header.
    pts = [(math.cos(2 * math.pi * k / n), math.sin(2 * math.pi * k / n), z)
           for z in (0.0, 1.5) for k in range(n)]
    polys = [tuple(range(1, n + 1)), tuple(range(2 * n, n, -1))]
    for k in range(n):
        a, b = k + 1, (k + 1) % n + 1
        polys.append((a, a + n, b + n, b))
    return pts, polys


def main():
    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    write_geom(os.path.join(here, "cube.geom"), *cube())
    write_geom(os.path.join(here, "torus.geom"), *torus())
    pts, polys = prism()
    write_geom(os.path.join(here, "prism.geom"), pts, polys)
    with open(os.path.join(here, "prism.colors"), "w") as f:
        f.write("%d\n" % len(polys))
        for k in range(len(polys)):
            h = k / len(polys)
            f.write("%.3f %.3f %.3f\n" % (0.5 + 0.5 * math.cos(2 * math.pi * h),
                                           0.5 + 0.5 * math.cos(2 * math.pi * (h - 1 / 3)),
                                           0.5 + 0.5 * math.cos(2 * math.pi * (h + 1 / 3))))
    with open(os.path.join(here, "prism.aoff"), "w") as f:
        f.write("name\t\t\thexagonal prism\n"
                "comment\t\t\twound clockwise, normals reversed, one colour per face\n"
                "geometry\t\tindexed_poly\tfff\t\tprism.geom\n"
                "vertex_order\t\tdefault\t\ts\t\tclockwise\n"
                "back_faces\t\tdefault\t\ts\t\treverse\n"
                "polygon_colors\t\tgeneric\t\tfff\t\tprism.colors\n")


if __name__ == "__main__":
    main()
