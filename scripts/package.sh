#!/usr/bin/env bash
# Builds the Debian package of the program (tarvelo_<version>_<arch>.deb) in
# build-package: a Release build for the prefix /usr without tests and
# benchmarks; the package holds the program, the command-line program with its
# manual page, the desktop entry, the icon and the operator's manual.
# Install it with: sudo apt-get install ./build-package/tarvelo_*.deb
# Usage: scripts/package.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh
desktop-file-validate resources/tarvelo.desktop

options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTARVELO_TESTS=OFF -DTARVELO_BENCH=OFF)
command -v ninja >/dev/null && options+=(-G Ninja)
# ccache, where installed, serves the objects of other checkouts of the tree
# (paths hashed relative to their common parent folder).
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$here")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
cmake -S . -B build-package "${options[@]}" >/dev/null
# Everything: the package holds the program and the command-line program, and
# the simulator is what scripts/package-check.sh runs the package against.
cmake --build build-package -j"$(nproc)"
rm -f build-package/tarvelo_*.deb
(cd build-package && cpack -G DEB)
deb=$(ls build-package/tarvelo_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
dpkg-deb --contents "$deb"
echo "package: $here/$deb"
