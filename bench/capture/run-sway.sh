#!/usr/bin/env bash
# The figures on the headless sway desktop: the Wayland backend's capture
# (screencopy of the window's region) without the walk, against `grim -g` of the same
# region (the window is tiled, so it takes the whole output but its borders), then a
# chord's road: hotkey, first overlay frame, preview and capture.
#   bench/capture/run-sway.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/default}
export ZOBA_SWAY_SIZE=${ZOBA_SWAY_SIZE:-1920x1080}
"$root/scripts/headless-sway.sh" run -- "$build/bench/capture/capture_bench" 1440 900
exec "$root/scripts/headless-sway.sh" run -- "$build/bench/service/sway_road_bench" 20
