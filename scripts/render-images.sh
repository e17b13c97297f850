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

# The application icon of the installed program, at the sizes desktops ask for (the scalable one is the SVG
# itself, installed from ui/resources/images/svg).
mkdir -p "$here/packaging/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -b none -f png -w "$size" -h "$size" -o "$here/packaging/icons/quorvane-$size.png" \
    "$images/svg/IDI_QUORVANE.svg"
  echo "quorvane-$size.png"
done
