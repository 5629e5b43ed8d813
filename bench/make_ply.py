#!/usr/bin/env python3
"""Writes a PLY object of about N triangles into OUTDIR and prints each file's name.

Usage: make_ply.py N OUTDIR [binary|ascii]
Without the third argument both bench_bin.ply (binary little-endian) and bench_ascii.ply are
written, one name per line. The mesh is a wavy grid of (w+1)^2 vertices and 2*w*w triangles.
"""
import array
import math
import os
import struct
import sys


def grid(n):
    w = max(1, int(math.sqrt(max(n, 2) / 2.0)))
    xs = array.array("f")
    for j in range(w + 1):
        for i in range(w + 1):
            x = i / w
            y = j / w
            xs.extend((x, y, 0.05 * math.sin(6.0 * x) * math.cos(5.0 * y)))
    faces = []
    for j in range(w):
        row = j * (w + 1)
        for i in range(w):
            a = row + i
            b = a + 1
            c = a + w + 1
            d = c + 1
            faces.append((a, b, d))
            faces.append((a, d, c))
    return (w + 1) * (w + 1), xs, faces


def header(fmt, nv, nf):
    return ("ply\nformat %s 1.0\ncomment made by make_ply.py\n"
            "element vertex %d\nproperty float x\nproperty float y\nproperty float z\n"
            "element face %d\nproperty list uchar int vertex_indices\nend_header\n"
            % (fmt, nv, nf)).encode()


def write_binary(path, nv, xs, faces):
    if sys.byteorder != "little":
        xs = array.array("f", xs)
        xs.byteswap()
    rec = struct.Struct("<Biii")
    body = bytearray(rec.size * len(faces))
    off = 0
    for a, b, c in faces:
        rec.pack_into(body, off, 3, a, b, c)
        off += rec.size
    with open(path, "wb") as f:
        f.write(header("binary_little_endian", nv, len(faces)))
        f.write(xs.tobytes())
        f.write(body)


def write_ascii(path, nv, xs, faces):
    with open(path, "w") as f:
        f.write(header("ascii", nv, len(faces)).decode())
        f.write("".join("%.6g %.6g %.6g\n" % (xs[k], xs[k + 1], xs[k + 2])
                        for k in range(0, len(xs), 3)))
        f.write("".join("3 %d %d %d\n" % t for t in faces))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    n = int(sys.argv[1])
    outdir = sys.argv[2]
    which = sys.argv[3] if len(sys.argv) > 3 else "both"
    if which not in ("both", "binary", "ascii"):
        sys.exit(__doc__)
    os.makedirs(outdir, exist_ok=True)
    nv, xs, faces = grid(n)
    if which in ("both", "binary"):
        path = os.path.join(outdir, "bench_bin.ply")
        write_binary(path, nv, xs, faces)
        print(path)
    if which in ("both", "ascii"):
        path = os.path.join(outdir, "bench_ascii.ply")
        write_ascii(path, nv, xs, faces)
        print(path)


if __name__ == "__main__":
    main()
