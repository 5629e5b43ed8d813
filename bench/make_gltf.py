#!/usr/bin/env python3
"""Writes the benchmark torus of about N triangles as glTF into OUTDIR and prints each file's name.

Usage: make_gltf.py N OUTDIR [glb|gltf|ply]
Without the third argument torusN.glb (float positions, 32-bit indices, one BIN chunk) and
torusN.gltf (the same with an external torusN.bin) are written; "ply" writes torusN.ply, the
same mesh as a binary little-endian PLY, for comparing the readers.
"""
import array
import json
import os
import struct
import sys

from make_off import torus


def arrays(pts, tris):
    xyz = array.array("f", (c for p in pts for c in p))
    idx = array.array("I", (i for t in tris for i in t))
    if sys.byteorder != "little":
        xyz.byteswap()
        idx.byteswap()
    return xyz.tobytes(), idx.tobytes()


def document(pts, nv, nt, pos_bytes, idx_bytes, uri=None):
    lo = [min(p[k] for p in pts) for k in range(3)]
    hi = [max(p[k] for p in pts) for k in range(3)]
    buffer = {"byteLength": len(pos_bytes) + len(idx_bytes)}
    if uri:
        buffer["uri"] = uri
    return {
        "asset": {"version": "2.0", "generator": "make_gltf.py"},
        "scene": 0,
        "scenes": [{"nodes": [0]}],
        "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "mode": 4}]}],
        "buffers": [buffer],
        "bufferViews": [
            {"buffer": 0, "byteOffset": 0, "byteLength": len(pos_bytes), "target": 34962},
            {"buffer": 0, "byteOffset": len(pos_bytes), "byteLength": len(idx_bytes),
             "target": 34963},
        ],
        "accessors": [
            {"bufferView": 0, "componentType": 5126, "count": nv, "type": "VEC3",
             "min": lo, "max": hi},
            {"bufferView": 1, "componentType": 5125, "count": 3 * nt, "type": "SCALAR"},
        ],
    }


def write_glb(path, doc, body):
    text = json.dumps(doc, separators=(",", ":")).encode()
    text += b" " * (-len(text) % 4)
    body += b"\0" * (-len(body) % 4)
    with open(path, "wb") as f:
        f.write(struct.pack("<III", 0x46546C67, 2, 12 + 8 + len(text) + 8 + len(body)))
        f.write(struct.pack("<II", len(text), 0x4E4F534A) + text)
        f.write(struct.pack("<II", len(body), 0x004E4942) + body)


def write_ply(path, pts, tris):
    xyz, _ = arrays(pts, [])
    rec = struct.Struct("<Biii")
    body = b"".join(rec.pack(3, *t) for t in tris)
    with open(path, "wb") as f:
        f.write(("ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\n"
                 "property float y\nproperty float z\nelement face %d\n"
                 "property list uchar int vertex_indices\nend_header\n"
                 % (len(pts), len(tris))).encode())
        f.write(xyz)
        f.write(body)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: make_gltf.py N OUTDIR [glb|gltf|ply]")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    which = sys.argv[3] if len(sys.argv) == 4 else "both"
    if which not in ("both", "glb", "gltf", "ply"):
        sys.exit("the third argument is glb, gltf or ply")
    pts, tris = torus(n)
    os.makedirs(outdir, exist_ok=True)
    stem = "torus%d" % len(tris)
    if which == "ply":
        write_ply(os.path.join(outdir, stem + ".ply"), pts, tris)
        print(stem + ".ply")
        return
    pos, idx = arrays(pts, tris)
    if which in ("both", "glb"):
        write_glb(os.path.join(outdir, stem + ".glb"), document(pts, len(pts), len(tris), pos, idx),
                  pos + idx)
        print(stem + ".glb")
    if which in ("both", "gltf"):
        with open(os.path.join(outdir, stem + ".bin"), "wb") as f:
            f.write(pos + idx)
        with open(os.path.join(outdir, stem + ".gltf"), "w") as f:
            json.dump(document(pts, len(pts), len(tris), pos, idx, stem + ".bin"), f)
        print(stem + ".gltf")


if __name__ == "__main__":
    main()
