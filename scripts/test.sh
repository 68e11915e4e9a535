#!/usr/bin/env bash
# Installs what is missing, then configures, builds and tests each preset.
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan fuzz)
# Tests that need a desktop run on a private headless one (scripts/headless-desktop.sh);
# those labelled `wayland` on a private headless sway (scripts/headless-sway.sh), those
# labelled `kwin` on a private headless KWin (scripts/headless-kwin.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
if ((${#presets[@]} == 0)); then presets=(default asan tsan fuzz); fi

bash scripts/install-deps.sh test
bash scripts/check-format.sh

jobs=${ZOBA_JOBS:-$(nproc)}
fuzz_seconds=${ZOBA_FUZZ_SECONDS:-30}

run_on_desktop() {
  if [[ -x scripts/headless-desktop.sh ]]; then
    scripts/headless-desktop.sh run -- "$@"
  else
    "$@"
  fi
}

# The tests labelled `wayland` on the headless sway desktop, as its user when we are
# root (CI): that user writes the build tree's Testing/ for the run.
run_on_sway() {
  local preset=$1
  shift
  if [[ -x scripts/headless-sway.sh ]]; then
    scripts/headless-sway.sh run --writable "build/$preset/Testing" -- "$@"
  else
    "$@"
  fi
}

# The tests labelled `kwin` on the headless KWin desktop, in the same way.
run_on_kwin() {
  local preset=$1
  shift
  if [[ -x scripts/headless-kwin.sh ]]; then
    scripts/headless-kwin.sh run --writable "build/$preset/Testing" -- "$@"
  else
    "$@"
  fi
}

for preset in "${presets[@]}"; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [[ $preset == fuzz ]]; then
    for target in formatter request; do
      echo "== fuzz: $target for ${fuzz_seconds}s"
      corpus=$(mktemp -d)
      status=0
      build/fuzz/tests/fuzz/${target}_fuzz -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" \
        >"$corpus.log" 2>&1 || status=$?
      if ((status == 0)); then tail -n 5 "$corpus.log"; else tail -n 60 "$corpus.log"; fi
      rm -rf "$corpus" "$corpus.log"
      ((status == 0)) || exit "$status"
    done
    continue
  fi
  echo "== $preset: test"
  run_on_desktop ctest --preset "$preset" -j "$jobs" --timeout 300 -LE 'wayland|kwin'
  echo "== $preset: test on sway"
  run_on_sway "$preset" ctest --preset "$preset" -j "$jobs" --timeout 300 -L wayland
  echo "== $preset: test on KWin"
  run_on_kwin "$preset" ctest --preset "$preset" -j "$jobs" --timeout 300 -L kwin
  if [[ $preset == default ]]; then
    echo "== the Debian package: build, install into a fresh Debian 12 root, capture"
    bash scripts/package-check.sh
    # Once, against the optimised build: the client's own code is the same under every preset.
    echo "== the Node client (clients/node): npm test on the desktop"
    (cd clients/node && npm ci --no-audit --no-fund --loglevel=error)
    ZOBA_BUILD_DIR="$PWD/build/default" run_on_desktop npm --prefix clients/node test
  fi
done
