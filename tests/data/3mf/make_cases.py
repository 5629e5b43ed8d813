#!/usr/bin/env python3
"""Writes the 3MF packages the reader's tests open, into the folder of this script.

Each is small and made for one behaviour of the zip container; the model parts' own behaviours
are tested from XML text in the tests themselves.
"""
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RELS = ('<?xml version="1.0" encoding="UTF-8"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Target="%s" Id="rel0" '
        'Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/></Relationships>\n')
CORE = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02"
PROD = "http://schemas.microsoft.com/3dmanufacturing/production/2015/06"


def tetra(object_id=1, extra=""):
    return ('<object id="%d" type="model"><mesh><vertices>'
            '<vertex x="0" y="0" z="0"/><vertex x="1" y="0" z="0"/>'
            '<vertex x="0" y="1" z="0"/><vertex x="0" y="0" z="1"/></vertices><triangles>'
            '<triangle v1="0" v2="2" v3="1"/><triangle v1="0" v2="1" v3="3"/>'
            '<triangle v1="0" v2="3" v3="2"/><triangle v1="1" v2="2" v3="3"/>'
            '</triangles></mesh></object>%s' % (object_id, extra))


def model(resources, build, ns=""):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<model unit="millimeter" xmlns="%s"%s>'
            '<resources>%s</resources><build>%s</build></model>\n' % (CORE, ns, resources, build))


TETRA = model(tetra(), '<item objectid="1"/>')


def write(name, parts, zip64=False):
    # Lowered limits make the zip module write every zip64 record: the local and central extra
    # fields and the zip64 end of the central directory.
    limits = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    if zip64:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 0, 0
    try:
        with zipfile.ZipFile(os.path.join(HERE, name), "w", zipfile.ZIP_DEFLATED) as z:
            for entry, text in parts:
                if zip64:
                    with z.open(entry, "w", force_zip64=True) as f:
                        f.write(text.encode())
                else:
                    z.writestr(entry, text)
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = limits


def patch_sizes(name, entry, size):
    """Rewrites the uncompressed size of `entry` in its local header and the central directory."""
    path = os.path.join(HERE, name)
    data = bytearray(open(path, "rb").read())
    key = entry.encode()
    for sig, size_at, name_len_at, name_at in ((b"PK\x03\x04", 22, 26, 30),
                                               (b"PK\x01\x02", 24, 28, 46)):
        at = data.find(sig)
        while at >= 0:
            n = struct.unpack_from("<H", data, at + name_len_at)[0]
            if data[at + name_at:at + name_at + n] == key:
                struct.pack_into("<I", data, at + size_at, size)
            at = data.find(sig, at + 4)
    open(path, "wb").write(bytes(data))


def main():
    write("tetra_zip64.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                              ("3D/3dmodel.model", TETRA)], zip64=True)
    # No relationships at all: the model stands where 3MF puts it.
    write("tetra_no_rels.3mf", [("3D/3dmodel.model", TETRA)])
    # The root part elsewhere, named with an escape and in other case.
    write("tetra_renamed.3mf", [("_rels/.rels", RELS % "/3D/My%20Part.MODEL"),
                                ("3D/My Part.model", TETRA)])
    # Two build items in the root part place objects of two other parts (production paths).
    root = model("", '<item objectid="1" p:path="/3D/a.model"/>'
                 '<item objectid="5" p:path="/3D/b.model" transform="1 0 0 0 1 0 0 0 1 5 0 0"/>',
                 ' xmlns:p="%s"' % PROD)
    write("production.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                             ("3D/3dmodel.model", root),
                             ("3D/a.model", model(tetra(1), "")),
                             ("3D/b.model", model(tetra(5), ""))])
    write("missing_part.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                               ("3D/3dmodel.model", root), ("3D/a.model", model(tetra(1), ""))])
    # The model part claims fewer bytes than it inflates to.
    write("lying_size.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                             ("3D/3dmodel.model", TETRA)])
    patch_sizes("lying_size.3mf", "3D/3dmodel.model", 100)
    # A claim no deflate stream of its size can reach.
    write("impossible_size.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                                  ("3D/3dmodel.model", TETRA)])
    patch_sizes("impossible_size.3mf", "3D/3dmodel.model", 0x7FFFFFFF)
    # 16 MB of blanks inside the model, honestly declared: a bomb for a small memory bound.
    bomb = TETRA.replace("<build>", " " * (16 << 20) + "<build>")
    write("bomb.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"), ("3D/3dmodel.model", bomb)])
    # A zip cut short: its central directory is gone.
    write("truncated.3mf", [("_rels/.rels", RELS % "/3D/3dmodel.model"),
                            ("3D/3dmodel.model", TETRA)])
    path = os.path.join(HERE, "truncated.3mf")
    data = open(path, "rb").read()
    open(path, "wb").write(data[:len(data) * 2 // 3])


if __name__ == "__main__":
    main()
