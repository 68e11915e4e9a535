#!/usr/bin/env bash
# One pass of the reference host on a desktop without a person: the host's card
# opens, a test window comes up in front of it, the chord is pressed, and the host
# prints what it got. Run by scripts/reference-host.sh on its headless desktop.
set -euo pipefail
cd "$(dirname "$0")/../.."

log=$(mktemp)
node examples/reference-host/host.js --once >"$log" 2>&1 &
host=$!
window=""
cleanup() {
  kill "$host" 2>/dev/null || true
  if [[ -n $window ]]; then kill "$window" 2>/dev/null || true; fi
  rm -f "$log"
}
trap cleanup EXIT

wait_for_line() { # PATTERN FILE TENTHS
  local tries=$3
  until grep -q "$1" "$2"; do
    ((tries-- > 0)) || { echo "reference host: no \"$1\"" >&2; cat "$log" >&2; exit 1; }
    sleep 0.1
  done
}
wait_for_line '^Ready' "$log" 200
focused=$(mktemp)
# The test window lives while its standard input is open: this script holds it.
input=$(mktemp -u)
mkfifo "$input"
exec 3<>"$input"
rm -f "$input"
/usr/bin/python3 tests/support/apps/gtk_window.py --title "A window to capture" --at 200,150 <&3 >"$focused" &
window=$!
wait_for_line . "$focused" 200
rm -f "$focused"
"${ZOBA_BUILD_DIR:-build/default}/tests/support/zoba-press-chord"
wait_for_line '"captured"' "$log" 300
cat "$log"
