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
  local work status=0
  work=$(mktemp -d)
  mkdir -p "$work/frames"
  scripts/with-demo-window.sh build/release/ZobaCapture/zoba-capture --debug-capture "$work/capture.png" --delay 0 \
    --debug-transition --slow 10 --debug-frames "$work/frames" >/dev/null || status=$?
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
