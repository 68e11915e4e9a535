#!/usr/bin/env bash
# The capture figures on the headless KWin desktop: the KWin backend's capture
# (ScreenShot2 of the active window by its handle) without the walk, against a plain
# client's CaptureActiveWindow and PNG encode in the same process. KWin centres the
# window; a keyboard on the seat (the tests' fake-input tool) lets it take the focus.
# Then the chord's figures (kwin_hotkey_bench) on the same KWin.
#   bench/capture/run-kwin.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/default}
if [[ ${2:-} != --inside ]]; then
  exec "$root/scripts/headless-kwin.sh" run -- "$0" "$build" --inside
fi
applications=$XDG_DATA_HOME/applications
mkdir -p "$applications"
grant() {
  printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nNoDisplay=true\n%s\n' "$(basename "$1")" "$1" "$2" \
    >"$applications/$(basename "$1").desktop"
}
grant "$build/bench/capture/capture_bench" X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
grant "$build/tests/kwin/zoba-kwin-input" X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
touch "$applications"
# KWin reads the folder again at its next question: wait until the tool is let in.
for _ in $(seq 50); do "$build/tests/kwin/zoba-kwin-input" s0 2>/dev/null && break; sleep 0.1; done
coproc keyboard { "$build/tests/kwin/zoba-kwin-input" idle; }
"$build/bench/capture/capture_bench" 1440 900
"$build/bench/service/kwin_hotkey_bench"
