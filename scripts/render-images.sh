#!/usr/bin/env bash
# Renders the console's images from their SVG sources (ui/resources/images/svg/NAME.svg) to the PNGs that
# are committed beside them (ui/resources/images/NAME.png), each at the size its SVG declares.
# Run it after changing an SVG and commit both; the build only reads the PNGs.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
images="$here/ui/resources/images"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing (Debian package librsvg2-bin)" >&2; exit 1; }

for svg in "$images"/svg/*.svg; do
  name="$(basename "$svg" .svg)"
  # -b none keeps the transparent background; the size is the SVG's own width and height.
  rsvg-convert -b none -f png -o "$images/$name.png" "$svg"
  echo "$name.png"
done
