#!/usr/bin/env python3
"""Writes a 3DS object of about N triangles into OUTDIR and prints the file's name (without OUTDIR).

usage: make_3ds.py N OUTDIR

A 3DS mesh holds at most 65535 vertices and faces, so the object is a row of wavy grid meshes of
up to 128 x 256 vertices, each in its own object block with its own material, followed by a
keyframer section with one track set per mesh, as modelling programs write them.
"""
import math
import os
import struct
import sys


def chunk(cid, body):
    return struct.pack('<HI', cid, 6 + len(body)) + body


def name(s):
    return s.encode('ascii') + b'\0'


def grid_mesh(index, cols, rows):
    xs = []
    x0 = index * (cols + 2)
    for r in range(rows):
        for c in range(cols):
            x, y = float(x0 + c), float(r)
            xs += (x, y, 0.5 * math.sin(0.3 * x) * math.cos(0.2 * y))
    verts = struct.pack('<H', cols * rows) + struct.pack('<%df' % len(xs), *xs)
    faces = []
    for r in range(rows - 1):
        for c in range(cols - 1):
            v = r * cols + c
            faces += (v, v + 1, v + cols + 1, 7, v, v + cols + 1, v + cols, 7)
    nfaces = len(faces) // 4
    facemat = chunk(0x4130, name('mat%d' % index) + struct.pack('<H', nfaces) +
                    struct.pack('<%dH' % nfaces, *range(nfaces)))
    smooth = chunk(0x4150, struct.pack('<%dI' % nfaces, *([1] * nfaces)))
    facelist = chunk(0x4120, struct.pack('<H', nfaces) + struct.pack('<%dH' % len(faces), *faces) +
                     facemat + smooth)
    uv = []
    for r in range(rows):
        for c in range(cols):
            uv += (c / cols, r / rows)
    maps = chunk(0x4140, struct.pack('<H', cols * rows) + struct.pack('<%df' % len(uv), *uv))
    matrix = chunk(0x4160, struct.pack('<12f', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0))
    mesh = chunk(0x4100, chunk(0x4110, verts) + facelist + maps + matrix)
    return chunk(0x4000, name('Grid%d' % index) + mesh), nfaces


def material(index):
    r, g, b = (80 + index * 37) % 256, (160 + index * 91) % 256, (40 + index * 53) % 256
    body = chunk(0xA000, name('mat%d' % index))
    body += chunk(0xA010, chunk(0x0011, bytes((r // 2, g // 2, b // 2))))
    body += chunk(0xA020, chunk(0x0011, bytes((r, g, b))) + chunk(0x0012, bytes((r, g, b))))
    body += chunk(0xA030, chunk(0x0010, struct.pack('<3f', 0.9, 0.9, 0.9)))
    return chunk(0xAFFF, body)


def track(cid, value):
    # flags, two reserved words, a 32-bit key count; one key with tension and continuity set
    key = struct.pack('<IH', 0, 0x0003) + struct.pack('<2f', 0.0, 0.0) + value
    return chunk(cid, struct.pack('<HII', 0, 0, 0) + struct.pack('<HH', 1, 0) + key)


def keyframer(count):
    body = chunk(0xB008, struct.pack('<II', 0, 100))
    for i in range(count):
        info = chunk(0xB030, struct.pack('<H', i))
        info += chunk(0xB010, name('Grid%d' % i) + struct.pack('<HHH', 0x4000, 0, 0xFFFF))
        info += chunk(0xB013, struct.pack('<3f', 0, 0, 0))
        info += track(0xB020, struct.pack('<3f', 0, 0, 0))
        info += track(0xB021, struct.pack('<4f', 0, 0, 0, 1))
        info += track(0xB022, struct.pack('<3f', 1, 1, 1))
        body += chunk(0xB002, info)
    return chunk(0xB000, body)


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: make_3ds.py N OUTDIR')
    n = max(2, int(sys.argv[1]))
    outdir = sys.argv[2]
    per_mesh = 2 * 127 * 255
    blocks, total, index = [], 0, 0
    while total < n:
        want = min(per_mesh, n - total)
        rows = max(2, min(256, int(math.sqrt(want / 2)) + 1))
        cols = max(2, min(128, want // (2 * (rows - 1)) + 1))
        block, faces = grid_mesh(index, cols, rows)
        blocks.append(block)
        total += faces
        index += 1
    objmesh = chunk(0x3D3D, b''.join(material(i) for i in range(index)) + b''.join(blocks))
    data = chunk(0x4D4D, chunk(0x0002, struct.pack('<I', 3)) + objmesh + keyframer(index))
    path = os.path.join(outdir, 'grid%d.3ds' % n)
    with open(path, 'wb') as f:
        f.write(data)
    print(os.path.basename(path))


if __name__ == '__main__':
    main()
