#!/bin/sh
# Makes the PNG sizes of the icon from mirandel.svg (needs rsvg-convert, Debian's librsvg2-bin).
# The PNGs are kept in the repository so that a build needs no SVG renderer: run this after
# changing the SVG and commit what it writes.
set -eu
cd "$(dirname "$0")"
for n in 16 22 24 32 48 64 128 256; do
	mkdir -p "hicolor/${n}x${n}/apps"
	rsvg-convert -w "$n" -h "$n" mirandel.svg -o "hicolor/${n}x${n}/apps/mirandel.png"
done
