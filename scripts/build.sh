#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh [DIR] [extra cmake args...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}; shift || true
case "$dir" in /*) ;; *) dir="$here/$dir" ;; esac
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# ccache, where installed, lets several checkouts of the tree (git worktrees
# side by side) share their compiled objects: paths are hashed relative to the
# checkouts' common parent folder.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$here")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$dir" "${generator[@]}" "${launcher[@]}" "$@" >/dev/null
else
  cmake -S "$here" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
