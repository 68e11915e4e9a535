#!/usr/bin/env bash
# A private headless Wayland desktop for the Wayland tests: sway on wlroots' headless
# backend (pixman renderer, no input devices, one 1920x1080 output HEADLESS-1),
# Xwayland on demand for X11 clients, an idle virtual keyboard (wtype), a private D-Bus session bus and runtime
# directory, with org.a11y.Status IsEnabled switched on and the accessibility registry
# running, so that GTK 3 and GTK 4 applications started natively on Wayland join the
# accessibility bus. The scripts/headless-desktop.sh of Wayland.
#
#   scripts/headless-sway.sh start        prints `export VAR=...` lines: eval "$(... start)"
#   scripts/headless-sway.sh stop [DIR]   stops what `start` started (DIR or $ZOBA_SWAY_STATE)
#   scripts/headless-sway.sh run [--writable PATH]... -- CMD
#                                         start, run CMD in that environment (as the
#                                         desktop's user), stop; CMD's status
#   scripts/headless-sway.sh as-user -- CMD   in a desktop's environment: run CMD as
#                                         the desktop's user (exec; CMD itself when not root)
#   scripts/headless-sway.sh accessibility   in a desktop's environment: start its
#                                         accessibility bus and registry again
#
# sway refuses to run as root. Run by root (as CI is), the script creates the system
# user $ZOBA_SWAY_USER (zoba-wayland) when it is missing and runs sway, the buses and
# `run`'s CMD as that user; the runtime directory (XDG_RUNTIME_DIR, 0700) belongs to
# it. Run by anyone else, everything runs as the caller.
#
# ctest in it: `run --writable BUILD/Testing -- ctest --test-dir BUILD -L wayland`.
# The user must be able to read the build tree (every folder above it searchable) and
# ctest writes BUILD/Testing; --writable hands PATH (created when missing) to the user
# for the run and gives it back to its owner afterwards. Without root it does nothing.
#
# The environment printed and given to CMD: WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE=wayland, DISPLAY (Xwayland, started by sway
# at the first X11 client), ZOBA_SWAY_STATE, and ZOBA_SWAY_USER when run by root.
#
# `start` is idempotent: with $ZOBA_SWAY_STATE naming a running desktop it prints that
# desktop's environment again. Everything is stopped by pid: the processes started for
# the desktop, and those started from it (activated services, Xwayland, the tests'
# windows), carry ZOBA_SWAY_STATE in their environment.
set -euo pipefail
shopt -s inherit_errexit

size=${ZOBA_SWAY_SIZE:-1920x1080}
user_name=${ZOBA_SWAY_USER:-zoba-wayland}

state_var=ZOBA_SWAY_STATE
script_name=headless-sway
# shellcheck source=scripts/lib/headless-wayland.sh
source "$(dirname "$0")/lib/headless-wayland.sh"

start_desktop() {
  print_running_desktop && return 0
  require_tools sway swaymsg wtype dbus-daemon dbus-send setpriv
  local state
  begin_start zoba-sway
  local runtime=$state/runtime
  export ZOBA_SWAY_STATE=$state XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland
  unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE DBUS_SESSION_BUS_PID WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK \
    DISPLAY I3SOCK XDG_CURRENT_DESKTOP

  # The session bus first: services it activates (the accessibility bus launcher)
  # inherit this environment.
  start_session_bus "$state"
  local bus_pid
  bus_pid=$(tail -n 1 "$state/pids")
  : >"$state/pids"

  local width=${size%x*} height=${size#*x}
  {
    echo "# Written by scripts/headless-sway.sh"
    echo "output HEADLESS-1 resolution ${width}x${height} position 0 0"
    echo "xwayland enable"
    echo "focus_follows_mouse no"
    # Tells the script sway's sockets and Xwayland's display.
    echo "exec printenv WAYLAND_DISPLAY SWAYSOCK DISPLAY >$runtime/sway.env"
  } >"$state/sway.config"
  chmod 644 "$state/sway.config"
  (
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
    as_user sway --config "$state/sway.config"
  ) </dev/null >"$state/sway.log" 2>&1 &
  # sway heads the list (see `start` above and stop_desktop), then the bus.
  {
    echo $!
    echo "$bus_pid"
  } >>"$state/pids"
  wait_for 100 test -s "$runtime/sway.env" || die "sway did not start: $(tail -n 5 "$state/sway.log")"
  wait_for 10 sh -c "[ \$(wc -l <'$runtime/sway.env') -ge 2 ]" || true
  local sway_env=()
  mapfile -t sway_env <"$runtime/sway.env"
  export WAYLAND_DISPLAY=${sway_env[0]:-} SWAYSOCK=${sway_env[1]:-} DISPLAY=${sway_env[2]:-}
  [[ -n $WAYLAND_DISPLAY && -S $SWAYSOCK ]] || die "sway gave no sockets: $(tail -n 5 "$state/sway.log")"
  [[ -n $DISPLAY ]] && echo "${DISPLAY#:}" >"$state/display"
  wait_for 50 swaymsg -t get_version || die "sway does not answer on $SWAYSOCK"

  # A seat without a keyboard gives no window the keyboard focus (no wl_keyboard.enter,
  # GTK never sees focus-in) and loses the first key of every new virtual keyboard: a
  # virtual keyboard that idles all day stands for the machine's keyboard. wtype's own
  # keymap has no modifier map, so to hold Shift give `-P Shift_L -M shift`.
  (as_user wtype -s 86400000) </dev/null >"$state/keyboard.log" 2>&1 &
  echo $! >>"$state/pids"
  wait_for 50 sh -c 'swaymsg -t get_inputs | grep -q "\"type\": \"keyboard\""' ||
    die "the virtual keyboard did not come: $(cat "$state/keyboard.log")"

  (as_user "$0" accessibility) || die "the accessibility bus did not start"

  {
    echo "export WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
    echo "export SWAYSOCK=$SWAYSOCK"
    echo "export XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
    echo "export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
    echo "export XDG_SESSION_TYPE=wayland"
    if [[ -n $DISPLAY ]]; then echo "export DISPLAY=$DISPLAY"; fi
    if is_root; then echo "export ZOBA_SWAY_USER=$user_name"; fi
    echo "export ZOBA_SWAY_STATE=$state"
  } >"$state/env"
  finish_start "$state"
}

desktop_prefix=ZOBA_SWAY
desktop_main "$@"
