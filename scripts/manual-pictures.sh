#!/usr/bin/env bash
# Takes the operator's manual's pictures of the windows again: the program's
# real windows on a virtual display (Xvfb), against the simulated instrument
# on 127.0.0.1, inside the loopback-only network namespace. The pictures are
# reduced to 256 colours and written to docs/manual/images.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/build.sh build >/dev/null
cmake --build build --target manual_pictures >/dev/null
out=$(mktemp -d -t tarvelo-pictures.XXXXXX)
trap 'rm -rf "$out"' EXIT
QT_QPA_PLATFORM=xcb bash scripts/in-netns.sh \
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" build/bin/manual_pictures "$out"
mkdir -p docs/manual/images
for picture in "$out"/*.png; do
  convert "$picture" -strip -colors 256 "PNG8:docs/manual/images/$(basename "$picture")"
done
du -ch docs/manual/images/*.png | tail -1
