#!/usr/bin/env python3
"""Writes a 3MF package holding a torus of about N triangles into OUTDIR and prints its name.

Usage: make_3mf.py N OUTDIR
The package is what slicers write: a content-types part, the root relationship, and one model
part (deflated) with one mesh object, one build item and vertex numbers printed as "%.6f".
"""
import os
import sys
import zipfile

from make_off import torus

CONTENT_TYPES = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="rels" '
    'ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
    '<Default Extension="model" '
    'ContentType="application/vnd.ms-package.3dmanufacturing-3dmodel+xml"/></Types>\n')

RELS = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    '<Relationship Target="/3D/3dmodel.model" Id="rel0" '
    'Type="http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel"/></Relationships>\n')


def model(pts, tris):
    out = ['<?xml version="1.0" encoding="UTF-8"?>\n'
           '<model unit="millimeter" xml:lang="en-US" '
           'xmlns="http://schemas.microsoft.com/3dmanufacturing/core/2015/02">\n'
           ' <resources>\n  <object id="1" type="model">\n   <mesh>\n    <vertices>\n']
    out.extend('     <vertex x="%.6f" y="%.6f" z="%.6f"/>\n' % p for p in pts)
    out.append('    </vertices>\n    <triangles>\n')
    out.extend('     <triangle v1="%d" v2="%d" v3="%d"/>\n' % t for t in tris)
    out.append('    </triangles>\n   </mesh>\n  </object>\n </resources>\n'
               ' <build>\n  <item objectid="1"/>\n </build>\n</model>\n')
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_3mf.py N OUTDIR")
    n, outdir = int(sys.argv[1]), sys.argv[2]
    pts, tris = torus(n)
    os.makedirs(outdir, exist_ok=True)
    name = "torus%d.3mf" % len(tris)
    with zipfile.ZipFile(os.path.join(outdir, name), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", CONTENT_TYPES)
        z.writestr("_rels/.rels", RELS)
        z.writestr("3D/3dmodel.model", model(pts, tris))
    print(name)


if __name__ == "__main__":
    main()
