#!/bin/sh
# Renders the committed PNG icons from the SVG (Debian package librsvg2-bin). Run it after
# changing the SVG and commit the result.
set -eu
cd "$(dirname "$0")/icons"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "$size"
    rsvg-convert -w "$size" -h "$size" com.orvanta.nx7ifbprog.svg -o "$size/com.orvanta.nx7ifbprog.png"
done
