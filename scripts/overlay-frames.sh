#!/usr/bin/env bash
# Records the capture overlay on the headless desktop, ten times slower than life,
# and puts its eight frames side by side in one picture.
#
#   bash scripts/overlay-frames.sh [OUTPUT.png]     (default: docs/overlay-frames.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
output=${1:-$root/docs/overlay-frames.png}
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")

bash scripts/install-deps.sh demo
cmake --preset release >/dev/null
cmake --build --preset release -j "${ZOBA_JOBS:-$(nproc)}" --target zoba-capture >/dev/null

record() {
  local work fifo window_pid status=0
  work=$(mktemp -d)
  fifo=$work/window
  mkfifo "$fifo"
  /usr/bin/python3 scripts/demo_window.py 120 </dev/null >"$fifo" 2>/dev/null &
  window_pid=$!
  if ! timeout 20 head -n 1 "$fifo" | grep -q ready; then
    echo "overlay-frames: the demo window did not come up" >&2
    status=1
  else
    mkdir -p "$work/frames"
    build/release/ZobaCapture/zoba-capture --debug-capture "$work/capture.png" --delay 0 \
      --debug-transition --slow 10 --debug-frames "$work/frames" >/dev/null || status=$?
  fi
  kill "$window_pid" 2>/dev/null || true
  wait "$window_pid" 2>/dev/null || true
  if ((status == 0)); then
    /usr/bin/python3 scripts/frames_sheet.py "$output" "$work"/frames/frame-*.png || status=$?
  fi
  rm -rf "$work"
  return "$status"
}

export -f record
export output
scripts/headless-desktop.sh run -- bash -c record
echo "overlay-frames: $output" >&2
