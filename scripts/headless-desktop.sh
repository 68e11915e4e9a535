#!/usr/bin/env bash
# A private headless desktop for the tests and the demo: Xvfb on a free display,
# a window manager, a private D-Bus session bus and runtime directory, so that
# the accessibility bus it starts is our own, with org.a11y.Status IsEnabled
# switched on and the accessibility registry running.
#
# ZOBA_DESKTOP_WM chooses the window manager: openbox (the default: EWMH with a
# stacking list), xfwm4 (no stacking list with a single client), i3 (a client
# list only, every window floating), twm (ICCCM only: WM_STATE, no EWMH lists)
# or none.
#
#   scripts/headless-desktop.sh start        prints `export VAR=...` lines: eval "$(... start)"
#   scripts/headless-desktop.sh stop [DIR]   stops what `start` started (DIR or $ZOBA_DESKTOP_STATE)
#   scripts/headless-desktop.sh run -- CMD   start, run CMD in that environment, stop; CMD's status
#   scripts/headless-desktop.sh accessibility   in a desktop's environment: start its
#                                            accessibility bus and registry again
#
# `start` is idempotent: with $ZOBA_DESKTOP_STATE naming a running desktop it
# prints that desktop's environment again. Everything is stopped by pid.
set -euo pipefail
shopt -s inherit_errexit

size=${ZOBA_DESKTOP_SIZE:-1920x1080x24}
wm=${ZOBA_DESKTOP_WM:-openbox}

state_var=ZOBA_DESKTOP_STATE
script_name=headless-desktop
# shellcheck source=scripts/lib/headless-common.sh
source "$(dirname "$0")/lib/headless-common.sh"

# Starts $wm and waits until it manages the screen.
start_window_manager() {
  local state=$1 ready='xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
  case $wm in
    none) return 0 ;;
    openbox) openbox --sm-disable </dev/null >"$state/wm.log" 2>&1 & ;;
    xfwm4) xfwm4 --compositor=off </dev/null >"$state/wm.log" 2>&1 & ;;
    i3)
      # Floating windows keep the size and place they ask for, as the tests expect.
      printf '%s\n' '# i3 config file (v4)' 'for_window [all] floating enable' 'focus_follows_mouse no' \
        >"$state/i3.config"
      i3 -a -c "$state/i3.config" </dev/null >"$state/wm.log" 2>&1 &
      ;;
    twm)
      # Windows go where they ask or anywhere, never placed by hand.
      printf '%s\n' 'RandomPlacement' 'UsePPosition "on"' 'NoGrabServer' >"$state/twmrc"
      twm -f "$state/twmrc" </dev/null >"$state/wm.log" 2>&1 &
      # twm publishes no EWMH; it sets this property on the root once it runs.
      ready='xprop -root _MIT_PRIORITY_COLORS | grep -q CARDINAL'
      ;;
  esac
  echo $! >>"$state/pids"
  wait_for 100 sh -c "$ready" || die "$wm did not start: $(tail -n 3 "$state/wm.log")"
}

start_desktop() {
  print_running_desktop && return 0
  case $wm in
    openbox | xfwm4 | i3 | twm | none) ;;
    *) die "ZOBA_DESKTOP_WM=$wm: choose openbox, xfwm4, i3, twm or none" ;;
  esac
  local tools=(Xvfb dbus-daemon dbus-send xprop)
  [[ $wm == none ]] || tools+=("$wm")
  require_tools "${tools[@]}"

  local state
  state=$(mktemp -d "${TMPDIR:-/tmp}/zoba-desktop.XXXXXX")
  # Whatever fails from here leaves nothing running.
  starting=$state
  trap 'die "failed at line $LINENO"' ERR
  local runtime=$state/runtime
  mkdir -m 700 "$runtime"
  : >"$state/pids"
  export ZOBA_DESKTOP_STATE=$state

  # Xvfb writes the display number it chose to the fd once it accepts clients.
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$size" 3>"$state/display" \
    </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >>"$state/pids"
  wait_for 100 test -s "$state/display" || die "Xvfb did not start: $(tail -n 3 "$state/xvfb.log")"
  local display=":$(tr -d '[:space:]' <"$state/display")"

  export DISPLAY=$display XDG_RUNTIME_DIR=$runtime
  unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE DBUS_SESSION_BUS_PID
  start_session_bus "$state"

  start_window_manager "$state"

  start_accessibility

  {
    echo "export DISPLAY=$DISPLAY"
    echo "export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
    echo "export XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
    echo "export ZOBA_DESKTOP_STATE=$state"
  } >"$state/env"
  finish_start "$state"
}

case ${1:-} in
  start)
    start_desktop
    ;;
  accessibility)
    start_accessibility
    ;;
  stop)
    stop_desktop "${2:-${ZOBA_DESKTOP_STATE:-}}"
    ;;
  run)
    shift
    [[ ${1:-} == -- ]] && shift
    (($# > 0)) || die "usage: $0 run -- COMMAND [ARGUMENT...]"
    env_lines=$(ZOBA_DESKTOP_STATE='' start_desktop)
    eval "$env_lines"
    unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
    trap 'stop_desktop "$ZOBA_DESKTOP_STATE"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    status=0
    "$@" || status=$?
    exit "$status"
    ;;
  *)
    echo "usage: $0 start | stop [STATE_DIR] | accessibility | run -- COMMAND [ARGUMENT...]" >&2
    exit 2
    ;;
esac
