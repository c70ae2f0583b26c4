#!/usr/bin/env bash
# Builds if needed, starts the simulated instrument on 127.0.0.1 and the
# program against it. Without a display the program runs on a virtual one
# (Xvfb); a screenshot of the main window after the first contact is saved
# and its path printed, then both are stopped.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

if [ -z "${TARVELO_IN_NETNS:-}" ]; then
  bash scripts/install-deps.sh
  bash scripts/build.sh build
  # Loopback only: the program and the simulator run in a private network
  # namespace where no other address can be reached (when we are root).
  export TARVELO_IN_NETNS=1
  exec bash scripts/in-netns.sh bash "$0" "$@"
fi

bin="$here/build/bin"
port=${TARVELO_SIM_PORT:-4000}
log=$(mktemp -t tarvelo-sim.XXXXXX)
"$bin/tarvelo-sim" --port "$port" >"$log" 2>&1 &
sim=$!
cleanup() { kill "$sim" 2>/dev/null || true; [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 50); do grep -q listening "$log" && break; sleep 0.1; done
if ! grep -q listening "$log"; then
  echo "run: port $port is taken; letting the simulator pick a free one"
  kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true
  "$bin/tarvelo-sim" --port 0 >"$log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do grep -q listening "$log" && break; sleep 0.1; done
  port=$(sed -n 's/.*command port \([0-9]*\).*/\1/p' "$log")
fi
cat "$log"

# The program reads its settings from 473config.ini beside the executable.
ini="$bin/473config.ini"
if [ -f "$ini" ] && ! grep -q '^IP-Server=127\.0\.0\.1' "$ini"; then
  cp "$ini" "$ini.bak"
  echo "run: your $ini pointed elsewhere; kept a copy as $ini.bak"
fi
if [ -f "$ini" ]; then
  sed -i -e 's/^IP-Server=.*/IP-Server=127.0.0.1/' -e "s/^Port=.*/Port=$port/" "$ini"
  grep -q '^IP-Server=' "$ini" || printf 'IP-Server=127.0.0.1\n' >>"$ini"
  grep -q '^Port=' "$ini" || printf 'Port=%s\n' "$port" >>"$ini"
else
  printf '[Config]\nIP-Server=127.0.0.1\nPort=%s\n' "$port" >"$ini"
fi
echo "run: $ini points the program at 127.0.0.1 port $port"

if [ -n "${DISPLAY:-}" ] && [ "${TARVELO_HEADLESS:-0}" != 1 ]; then
  "$bin/tarvelo"
  exit 0
fi

# No display: a virtual one, a screenshot after the first contact.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
"$bin/tarvelo" &
app=$!
sleep "${TARVELO_SHOT_DELAY:-4}"
shot="$here/build/tarvelo-main-window.png"
import -window root "$shot"
echo "run: screenshot of the main window: $shot"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
