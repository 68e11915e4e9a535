#!/usr/bin/env bash
# The capture figures for a 1440x900 and a 2400x1500 window, each in a process
# of its own (so each peak memory figure is that capture's), on a headless
# desktop large enough for both.
#   bench/capture/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/default}
export ZOBA_DESKTOP_SIZE=${ZOBA_DESKTOP_SIZE:-2560x1600x24}
exec "$root/scripts/headless-desktop.sh" run -- bash -c '
  "$0/bench/capture/capture_bench" 1440 900 &&
  "$0/bench/capture/capture_bench" 2400 1500' "$build"
