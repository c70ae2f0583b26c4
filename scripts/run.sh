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
# Every IP-Server and Port line of a [Config] section goes, however it is
# spelt or spaced (the program reads the first one), and the simulator's
# address and port follow the first [Config] header; every other line stays.
/usr/bin/python3 - "$ini" "$port" <<'PY'
import re, shutil, sys
path, port = sys.argv[1], sys.argv[2]
try:
    lines = open(path, "rb").read().splitlines(keepends=True)
except FileNotFoundError:
    lines = []
key = re.compile(rb"^\s*(ip-server|port)\s*=\s*(.*?)\s*$", re.I)
section = re.compile(rb"^\s*\[(.*)\]\s*$")
kept, address, in_config = [], None, False
for line in lines:
    if m := section.match(line):
        in_config = m.group(1).strip().lower() == b"config"
    elif in_config and (k := key.match(line)):
        if address is None and k.group(1).lower() == b"ip-server":
            address = k.group(2)
        continue
    kept.append(line)
if lines and address != b"127.0.0.1":
    shutil.copyfile(path, path + ".bak")
    print(f"run: your {path} pointed elsewhere; kept a copy as {path}.bak")
end = b"\r\n" if not lines or lines[0].endswith(b"\r\n") else b"\n"
ours = [b"IP-Server=127.0.0.1" + end, b"Port=" + port.encode() + end]
header = next((i for i, l in enumerate(kept) if l.strip().lower() == b"[config]"), None)
if header is None:
    kept[0:0] = [b"[Config]" + end] + ours
else:
    kept[header + 1:header + 1] = ours
open(path, "wb").write(b"".join(kept))
PY
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
