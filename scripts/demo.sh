#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds the helper, opens a
# demo window and captures it in the debug capture mode, as the hotkey would, with
# the capture overlay: the flash, the lift and the flight to a test card.
# Uses the X display in DISPLAY when it answers, else a private headless desktop.
#
#   bash scripts/demo.sh [OUTPUT.png]      (default: demo-capture/capture.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

output=${1:-$root/demo-capture/capture.png}
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

bash scripts/install-deps.sh demo
cmake --preset release >/dev/null
cmake --build --preset release -j "${ZOBA_JOBS:-$(nproc)}" --target zoba-capture >/dev/null

capture() {
  echo "demo: capturing the focused window of the frontmost application" >&2
  scripts/with-demo-window.sh build/release/ZobaCapture/zoba-capture --debug-capture "$output" --delay 0 \
    --debug-transition || return
  echo "demo: screenshot in $output, accessibility text in $output.txt" >&2
}

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  capture
else
  export -f capture
  export output
  scripts/headless-desktop.sh run -- bash -c capture
fi
