#!/usr/bin/env bash
# Builds the Debian package from a clean clone of the committed tree (HEAD)
# with scripts/package.sh, unpacks it into a scratch root (dpkg -x) and runs
# what it installed: "tarvelo-cli --version", and the program's first contact
# with the simulated instrument on 127.0.0.1 (offscreen, in a private network
# namespace, its settings pointing at 127.0.0.1). Changes not committed are
# not in the clone. The work folder build-package-check is kept between runs
# under the same path, so that ccache serves the unchanged objects.
# Usage: scripts/package-check.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
work="$here/build-package-check"

# Second part, inside the private network namespace: the installed program
# against the simulator.
if [ "${1:-}" = "--first-contact" ]; then
  root="$work/root" home="$work/home"
  sim="$work/src/build-package/bin/tarvelo-sim"
  simlog="$work/sim.log" applog="$work/program.log"
  pids=()
  cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; }
  trap cleanup EXIT
  "$sim" --port 0 --log-commands >"$simlog" 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do grep -q listening "$simlog" && break; sleep 0.1; done
  port=$(sed -n 's/.*command port \([0-9]*\).*/\1/p' "$simlog")
  [ -n "$port" ] || { echo "package-check: the simulator did not start" >&2; cat "$simlog" >&2; exit 1; }

  # Unpacked outside /usr/bin into a folder it may write, the program keeps
  # its settings beside the executable; installed for real, in the user's
  # configuration folder. Both point at the simulator on 127.0.0.1.
  settings=$(printf '[Config]\r\nIP-Server=127.0.0.1\r\nPort=%s\r\n' "$port")
  mkdir -p "$home/.config/tarvelo"
  printf '%s' "$settings" >"$root/usr/bin/473config.ini"
  printf '%s' "$settings" >"$home/.config/tarvelo/473config.ini"

  HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES='qt.qpa.*=false' "$root/usr/bin/tarvelo" >"$applog" 2>&1 &
  app=$!
  pids+=($app)
  # The first contact ends with the unit query of channel 4 ("#Z004", then
  # "#Z75"); the probe before it asks channel 1 only.
  contact() { awk '/^command #Z004$/ { four = 1; next } four && /^command #Z75$/ { found = 1 } END { exit !found }' "$simlog"; }
  for _ in $(seq 600); do
    contact && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if ! contact; then
    echo "package-check: the installed program made no first contact within 60 s" >&2
    echo "-- simulator:" >&2; cat "$simlog" >&2
    echo "-- program:" >&2; cat "$applog" >&2
    exit 1
  fi
  echo "package-check: first contact of the installed program: $(grep -c '^command ' "$simlog") commands"
  exit 0
fi

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "package-check: changes not committed are not checked (the package is built from HEAD)"
fi
rm -rf "$work/src" "$work/root" "$work/home"
mkdir -p "$work/root"
git clone --quiet --no-checkout "$here" "$work/src"
git -C "$work/src" checkout --quiet --detach "$(git rev-parse HEAD)"
echo "== package-check: package of $(git rev-parse --short HEAD) from a clean clone"
CCACHE_BASEDIR="$work" bash "$work/src/scripts/package.sh" >"$work/package.log" 2>&1 || {
  tail -n 40 "$work/package.log" >&2; echo "package-check: scripts/package.sh failed" >&2; exit 1; }
deb=$(ls "$work"/src/build-package/tarvelo_*.deb)
dpkg-deb -x "$deb" "$work/root"

version=$(sed -n 's/^project(tarvelo VERSION \([0-9.]*\).*/\1/p' "$work/src/CMakeLists.txt")
shown=$("$work/root/usr/bin/tarvelo-cli" --version)
echo "package-check: tarvelo-cli --version: $shown"
case "$shown" in
  *"$version"*) ;;
  *) echo "package-check: the installed tarvelo-cli does not show version $version" >&2; exit 1 ;;
esac

bash scripts/in-netns.sh bash "$here/scripts/package-check.sh" --first-contact
echo "== package-check: $(basename "$deb") installs and runs"
