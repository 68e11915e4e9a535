#!/usr/bin/env bash
# Opens the demo window (scripts/demo_window.py) on the current display, waits until it
# has the focus, runs CMD, closes the window and exits with CMD's status.
#
#   scripts/with-demo-window.sh CMD [ARG...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
mkfifo "$work/window"
# The window closes itself after two minutes should this script be killed.
/usr/bin/python3 "$here/demo_window.py" 120 </dev/null >"$work/window" 2>/dev/null &
window_pid=$!
trap 'kill "$window_pid" 2>/dev/null || true; wait "$window_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

if ! timeout 20 head -n 1 "$work/window" | grep -q ready; then
  echo "with-demo-window: the demo window did not come up" >&2
  exit 1
fi
status=0
"$@" || status=$?
exit "$status"
