#!/usr/bin/env bash
# Writes a picture (PNG) of every window of the program, in each of the four
# languages and under the C, German and French regional formats, into one
# folder for people to look at. The windows run offscreen against the
# simulated instrument on 127.0.0.1, with a full memory of real-looking data
# (a narrow band, a wide swing, a channel not connected, a temperature).
# The pictures come from the window layout test's walk (tests/gui/tst_layout),
# which also reports any text it finds cut or overlapping.
# Usage: scripts/gallery.sh [FOLDER]   (default: build/gallery)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
out=${1:-$here/build/gallery}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

bash scripts/build.sh build
rm -rf "$out"
mkdir -p "$out"
status=0
TARVELO_GALLERY="$out" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
  bash scripts/in-netns.sh build/bin/tst_layout everyWindowWhole || status=$?
echo "gallery: $(find "$out" -name '*.png' | wc -l) pictures in $out"
[ $status -eq 0 ] || echo "gallery: the layout check found faults (see above)" >&2
exit $status
