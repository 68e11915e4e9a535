#!/usr/bin/env bash
# The reference host (examples/reference-host): builds the helper and the Node
# client, then opens the host's card window on your X display; hold both Shift keys
# with another window in front. Without a display it runs once on a private headless
# desktop with a test window and a pressed chord, and prints what the host got.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "${ZOBA_JOBS:-$(nproc)}" --target zoba-capture zoba-press-chord >/dev/null
(cd clients/node && npm ci --no-audit --no-fund --loglevel=error && npm run build >/dev/null)

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  exec node examples/reference-host/host.js
fi
exec scripts/headless-desktop.sh run -- bash examples/reference-host/headless-run.sh
