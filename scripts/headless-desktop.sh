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

starting=""  # the state directory of a start in progress, stopped if it fails

die() {
  echo "headless-desktop: $*" >&2
  if [[ -n $starting ]]; then stop_desktop "$starting"; fi
  exit 1
}

alive() { [[ -n ${1:-} ]] && kill -0 "$1" 2>/dev/null; }

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tries=$1
  shift
  while ((tries-- > 0)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Processes started for the desktop carry ZOBA_DESKTOP_STATE in their environment,
# including those the buses started by activation (which are not our children).
marked_pids() {
  local state=$1
  env -u ZOBA_DESKTOP_STATE grep -slzx "ZOBA_DESKTOP_STATE=$state" /proc/[0-9]*/environ 2>/dev/null |
    sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' | grep -v -x -e "$$" -e "$BASHPID" || true
}

stop_desktop() {
  local state=$1
  [[ -n $state && -d $state && -f $state/pids ]] || return 0
  local all=() pid
  mapfile -t all < <(cat "$state/pids"; marked_pids "$state")
  for pid in "${all[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  local tries=30 left
  while ((tries-- > 0)); do
    left=0
    for pid in "${all[@]}"; do alive "$pid" && left=1; done
    ((left == 0)) && break
    sleep 0.1
  done
  for pid in "${all[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$state"
}

# Activates the accessibility bus and switches accessibility on, so that toolkits
# started from now on join it, and starts its registry. Also brings them back
# after they went away (a test of the helper under that fault does this).
start_accessibility() {
  wait_for 50 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true ||
    die "the accessibility bus did not start"
  # The launcher starts the bus itself at the first question for its address.
  local a11y
  a11y=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress) ||
    die "the accessibility bus has no address"
  a11y=$(tr -d '[:space:]' <<<"$a11y")
  # The registry runs from the start, as a session starts it at login: Qt registers
  # its applications only with a registry that already runs. The bus replies once
  # the activated registry owns its name.
  dbus-send --bus="$a11y" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.StartServiceByName string:org.a11y.atspi.Registry uint32:0 >/dev/null ||
    die "the accessibility registry did not start"
}

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
  if [[ -n ${ZOBA_DESKTOP_STATE:-} && -f $ZOBA_DESKTOP_STATE/env ]] &&
    alive "$(head -n 1 "$ZOBA_DESKTOP_STATE/pids" 2>/dev/null)"; then
    cat "$ZOBA_DESKTOP_STATE/env"
    return 0
  fi
  case $wm in
    openbox | xfwm4 | i3 | twm | none) ;;
    *) die "ZOBA_DESKTOP_WM=$wm: choose openbox, xfwm4, i3, twm or none" ;;
  esac
  local tools=(Xvfb dbus-daemon dbus-send xprop)
  [[ $wm == none ]] || tools+=("$wm")
  for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
  done

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
  # Services the bus activates (the accessibility bus launcher) inherit this environment.
  dbus-daemon --session --fork --nopidfile --address="unix:path=$runtime/bus" \
    --print-address=1 --print-pid=1 </dev/null >"$state/dbus" 2>"$state/dbus.log" ||
    die "dbus-daemon did not start: $(cat "$state/dbus.log")"
  grep -E '^[0-9]+$' "$state/dbus" >>"$state/pids"
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(grep -v -E '^[0-9]+$' "$state/dbus" | head -n 1)

  start_window_manager "$state"

  start_accessibility

  {
    echo "export DISPLAY=$DISPLAY"
    echo "export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
    echo "export XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
    echo "export ZOBA_DESKTOP_STATE=$state"
  } >"$state/env"
  trap - ERR
  starting=""
  cat "$state/env"
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
