#!/usr/bin/env bash
# Regenerates the updater's icon: draws the 256-pixel source image, then the icon file with
# images of 256, 48, 32, 24 and 16 pixels. Needs ImageMagick (scripts/setup.sh installs it).
#   bash app/icon/make-icon.sh
set -euo pipefail
cd "$(dirname "$0")"
# A rounded blue tile with a white downward arrow into a tray: an update arriving.
convert -size 256x256 xc:none \
  -fill '#1f5fbf' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#3d7fe0' -draw 'roundrectangle 8,8 247,140 40,40' \
  -fill white -draw 'rectangle 108,40 148,130' \
  -fill white -draw 'polygon 68,120 188,120 128,184' \
  -fill white -draw 'rectangle 44,164 60,220' -draw 'rectangle 196,164 212,220' \
  -draw 'rectangle 44,204 212,220' \
  -depth 8 updater-source.png
convert updater-source.png -define icon:auto-resize=256,48,32,24,16 ../updater.ico
