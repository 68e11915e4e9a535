#!/usr/bin/env bash
# A private headless KDE Plasma compositor for the KWin tests: kwin_wayland on its
# virtual backend (one output of ZOBA_KWIN_SIZE logical pixels, 1920x1080 unless
# set, at scale ZOBA_KWIN_SCALE, 1 unless set; OpenGL compositing on Mesa's software
# renderer, which KWin's screenshot interface needs; no input devices), Xwayland, a
# private D-Bus session bus, runtime, configuration and data directories, and the
# accessibility bus switched on. The counterpart of headless-sway.sh.
#
#   scripts/headless-kwin.sh start        prints `export VAR=...` lines: eval "$(... start)"
#   scripts/headless-kwin.sh stop [DIR]   stops what `start` started (DIR or $ZOBA_KWIN_STATE)
#   scripts/headless-kwin.sh run [--writable PATH]... -- CMD
#                                         start, run CMD in that environment (as the
#                                         desktop's user), stop; CMD's status
#   scripts/headless-kwin.sh as-user -- CMD   in a desktop's environment: CMD as its user
#   scripts/headless-kwin.sh accessibility   in a desktop's environment: start its
#                                         accessibility bus and registry again
#
# The packaged /usr/bin/kwin_wayland carries the file capability cap_sys_resource,
# which exec refuses in containers: a plain copy runs instead, named so that KWin's
# own check of its file name still matches. KWin struggles as root; run by root, the
# script runs everything as $ZOBA_KWIN_USER (zoba-wayland), created when missing.
#
# The desktop's configuration (XDG_CONFIG_HOME) holds a kwinrc with
# `[Xwayland] XwaylandEavesdrops=Modifiers` (ZOBA_KWIN_EAVESDROPS overrides the
# value), so X11 clients see modifier keys; its data directory (XDG_DATA_HOME) is where
# tests put the desktop files that grant restricted interfaces to their programs.
#
# The environment printed and given to CMD: WAYLAND_DISPLAY, DISPLAY (Xwayland),
# XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME,
# DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=KDE,
# ZOBA_KWIN_STATE, and ZOBA_KWIN_USER when run by root.
set -euo pipefail
shopt -s inherit_errexit

size=${ZOBA_KWIN_SIZE:-1920x1080}
scale=${ZOBA_KWIN_SCALE:-1}
user_name=${ZOBA_KWIN_USER:-zoba-wayland}
state_var=ZOBA_KWIN_STATE
script_name=headless-kwin
# shellcheck source=scripts/lib/headless-wayland.sh
source "$(dirname "$0")/lib/headless-wayland.sh"

start_desktop() {
  print_running_desktop && return 0
  require_tools /usr/bin/kwin_wayland Xwayland dbus-daemon dbus-send setpriv
  local state
  begin_start zoba-kwin
  local runtime=$state/runtime
  export ZOBA_KWIN_STATE=$state XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE
  export XDG_CONFIG_HOME=$state/home/config XDG_DATA_HOME=$state/home/data XDG_CACHE_HOME=$state/home/cache
  unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE DBUS_SESSION_BUS_PID WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK \
    DISPLAY I3SOCK KDE_FULL_SESSION
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications" "$XDG_CACHE_HOME" "$state/bin"
  {
    echo "[Xwayland]"
    echo "XwaylandEavesdrops=${ZOBA_KWIN_EAVESDROPS:-Modifiers}"
  } >"$XDG_CONFIG_HOME/kwinrc"
  # The copy without the file capability; KWin checks that its name ends so.
  cp /usr/bin/kwin_wayland "$state/bin/kwin_wayland"
  # The session KWin runs: it tells the script KWin's sockets, then waits to be stopped.
  cat >"$state/bin/session" <<SESSION
#!/bin/sh
printenv WAYLAND_DISPLAY DISPLAY >"$runtime/kwin.env.tmp"
mv "$runtime/kwin.env.tmp" "$runtime/kwin.env"
exec sleep 86400
SESSION
  chmod 755 "$state/bin/session"
  if is_root; then chown -R "$user_name:$(id -g "$user_name")" "$state/home"; fi

  start_session_bus "$state"

  local width=${size%x*} height=${size#*x}
  (
    export QT_QPA_PLATFORM=wayland
    as_user "$state/bin/kwin_wayland" --virtual --xwayland --width "$width" --height "$height" \
      --scale "$scale" --exit-with-session "$state/bin/session"
  ) </dev/null >"$state/kwin.log" 2>&1 &
  # KWin heads the list (see stop_desktop), before the bus.
  local kwin_pid=$!
  sed -i "1i $kwin_pid" "$state/pids"
  wait_for 150 test -s "$runtime/kwin.env" || die "kwin did not start: $(tail -n 5 "$state/kwin.log")"
  local kwin_env=()
  mapfile -t kwin_env <"$runtime/kwin.env"
  export WAYLAND_DISPLAY=${kwin_env[0]:-} DISPLAY=${kwin_env[1]:-}
  [[ -n $WAYLAND_DISPLAY ]] || die "kwin gave no socket: $(tail -n 5 "$state/kwin.log")"
  [[ -n $DISPLAY ]] && echo "${DISPLAY#:}" >"$state/display"
  # The bus lets in its own user only.
  wait_for 50 "$0" as-user -- dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
    org.freedesktop.DBus.Introspectable.Introspect || die "kwin does not answer on the session bus"

  (as_user "$0" accessibility) || die "the accessibility bus did not start"

  {
    echo "export WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
    if [[ -n $DISPLAY ]]; then echo "export DISPLAY=$DISPLAY"; fi
    echo "export XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
    echo "export XDG_CONFIG_HOME=$XDG_CONFIG_HOME"
    echo "export XDG_DATA_HOME=$XDG_DATA_HOME"
    echo "export XDG_CACHE_HOME=$XDG_CACHE_HOME"
    echo "export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
    echo "export XDG_SESSION_TYPE=wayland"
    echo "export XDG_CURRENT_DESKTOP=KDE"
    if is_root; then echo "export ZOBA_KWIN_USER=$user_name"; fi
    echo "export ZOBA_KWIN_STATE=$state"
  } >"$state/env"
  finish_start "$state"
}

desktop_prefix=ZOBA_KWIN
desktop_main "$@"
