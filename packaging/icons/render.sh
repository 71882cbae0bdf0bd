#!/usr/bin/env bash
# Renders the hicolor PNGs from veskoqindra.svg (needs librsvg2-bin). The PNGs
# are committed, so building the package does not need this script.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${s}x${s}"
  rsvg-convert -w "$s" -h "$s" veskoqindra.svg -o "hicolor/${s}x${s}/veskoqindra.png"
done
