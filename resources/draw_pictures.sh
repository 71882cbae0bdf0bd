#!/usr/bin/env bash
# Redraws the program's own pictures with ImageMagick. The results are
# committed, so a build never needs this; run it only to change a picture.
set -euo pipefail
cd "$(dirname "$0")"
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
condensed=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf

# 66 x 46 program picture of the About window (JPEG).
convert -size 66x46 gradient:'#dfe9ff'-'#5b86d6' \
  -fill '#ffffff' -stroke '#23407a' -strokewidth 1 -draw 'rectangle 6,10 40,34' \
  -fill none -draw 'polyline 6,10 23,24 40,10' \
  -stroke '#1a9b2a' -strokewidth 3 -draw 'polyline 30,30 35,36 44,22' \
  -stroke none -fill '#102a5c' -font "$bold" -pointsize 15 -annotate +45+21 'V' -annotate +45+38 'Q' \
  -quality 92 program_picture.jpg

# 188 x 18 picture strip (JPEG).
convert -size 18x188 gradient:'#6f9be6'-'#23407a' -rotate 90 \
  -fill '#ffffff' -font "$bold" -pointsize 10 -gravity center -annotate +0+0 'VeskoQindra V3.4' \
  -quality 92 picture_strip.jpg

# 32 x 32 switch labelled OFF, the About window's close button.
convert -size 32x32 xc:none \
  -fill '#d5d9e0' -stroke '#5a6270' -strokewidth 1 -draw 'roundrectangle 0.5,7.5 31.5,24.5 8,8' \
  -fill '#ffffff' -stroke '#5a6270' -draw 'circle 8.5,16 8.5,22' \
  -stroke none -fill '#b01818' -font "$condensed" -pointsize 7 -annotate +16+19 'OFF' \
  PNG32:switch_off.png
