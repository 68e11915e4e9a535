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

starting=""  # the state directory of a start in progress, stopped if it fails

die() {
  echo "headless-sway: $*" >&2
  if [[ -n $starting ]]; then stop_desktop "$starting"; fi
  exit 1
}

# A zombie counts as gone: on some machines the init that inherits our daemons reaps
# them only every second or so.
alive() {
  [[ -n ${1:-} ]] && kill -0 "$1" 2>/dev/null || return 1
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [[ ${stat:0:1} != Z ]]
}

is_root() { [[ $(id -u) -eq 0 ]]; }

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

# Runs the command after it as the desktop's user (exec'd, so $! is its pid).
as_user() {
  if is_root; then
    local home
    home=$(getent passwd "$user_name" | cut -d: -f6)
    exec setpriv --reuid="$user_name" --regid="$user_name" --clear-groups \
      env HOME="$home" USER="$user_name" LOGNAME="$user_name" "$@"
  fi
  exec "$@"
}

ensure_user() {
  is_root || return 0
  if ! getent passwd "$user_name" >/dev/null; then
    useradd --system --user-group --create-home --home-dir "/var/lib/$user_name" \
      --shell /usr/sbin/nologin --comment "ZobaCapture headless Wayland tests" "$user_name" ||
      die "could not create the user $user_name"
  fi
  local home
  home=$(getent passwd "$user_name" | cut -d: -f6)
  if [[ ! -d $home ]]; then
    install -d -m 755 -o "$user_name" -g "$(id -g "$user_name")" "$home"
  fi
}

# Processes started for the desktop carry ZOBA_SWAY_STATE in their environment,
# including those the bus and sway started (which are not our children).
marked_pids() {
  local state=$1
  env -u ZOBA_SWAY_STATE grep -slzx "ZOBA_SWAY_STATE=$state" /proc/[0-9]*/environ 2>/dev/null |
    sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' | grep -v -x -e "$$" -e "$BASHPID" || true
}

stop_desktop() {
  local state=$1
  [[ -n $state && -d $state && -f $state/pids ]] || return 0
  local all=() pid
  # sway first (its pid heads the list): it takes Xwayland and its sockets down itself.
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
  # An X display sway did not get to clean up (killed): its socket and lock.
  if [[ -f $state/display ]]; then
    local number
    number=$(tr -dc '0-9' <"$state/display")
    # shellcheck disable=SC2002  # a lock file that is missing is no error
    if [[ -n $number ]] && ! alive "$(cat "/tmp/.X$number-lock" 2>/dev/null | tr -dc '0-9')"; then
      rm -f "/tmp/.X11-unix/X$number" "/tmp/.X$number-lock" 2>/dev/null || true
    fi
  fi
  rm -rf "$state"
}

# Activates the accessibility bus and switches accessibility on, so that toolkits
# started from now on join it, and starts its registry (see headless-desktop.sh).
start_accessibility() {
  wait_for 50 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true ||
    die "the accessibility bus did not start"
  local a11y
  a11y=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress) ||
    die "the accessibility bus has no address"
  a11y=$(tr -d '[:space:]' <<<"$a11y")
  dbus-send --bus="$a11y" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.StartServiceByName string:org.a11y.atspi.Registry uint32:0 >/dev/null ||
    die "the accessibility registry did not start"
}

start_desktop() {
  if [[ -n ${ZOBA_SWAY_STATE:-} && -f $ZOBA_SWAY_STATE/env ]] &&
    alive "$(head -n 1 "$ZOBA_SWAY_STATE/pids" 2>/dev/null)"; then
    cat "$ZOBA_SWAY_STATE/env"
    return 0
  fi
  for tool in sway swaymsg wtype dbus-daemon dbus-send setpriv; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
  done
  ensure_user

  local state
  state=$(mktemp -d "${TMPDIR:-/tmp}/zoba-sway.XXXXXX")
  starting=$state
  trap 'die "failed at line $LINENO"' ERR
  chmod 755 "$state"  # the desktop's user reaches its runtime directory through it
  local runtime=$state/runtime
  if is_root; then
    install -d -m 700 -o "$user_name" -g "$(id -g "$user_name")" "$runtime"
    # Xwayland, run by the user, puts its socket there; a clean machine may lack it.
    [[ -d /tmp/.X11-unix ]] || install -d -m 1777 /tmp/.X11-unix
  else
    mkdir -m 700 "$runtime"
  fi
  : >"$state/pids"
  export ZOBA_SWAY_STATE=$state XDG_RUNTIME_DIR=$runtime XDG_SESSION_TYPE=wayland
  unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE DBUS_SESSION_BUS_PID WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK \
    DISPLAY I3SOCK XDG_CURRENT_DESKTOP

  # The session bus first: services it activates (the accessibility bus launcher)
  # inherit this environment.
  (as_user dbus-daemon --session --fork --nopidfile --address="unix:path=$runtime/bus" \
    --print-address=1 --print-pid=1) </dev/null >"$state/dbus" 2>"$state/dbus.log" ||
    die "dbus-daemon did not start: $(cat "$state/dbus.log")"
  local bus_pid
  bus_pid=$(grep -E '^[0-9]+$' "$state/dbus")
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(grep -v -E '^[0-9]+$' "$state/dbus" | head -n 1)

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
  trap - ERR
  starting=""
  cat "$state/env"
}

# Hands each --writable path to the desktop's user for a run, and back afterwards.
writable=()
give_writable() {
  is_root || return 0
  local path
  for path in "${writable[@]}"; do
    local owner
    if [[ -e $path ]]; then owner=$(stat -c %u:%g "$path"); else owner=$(stat -c %u:%g "$(dirname "$path")"); fi
    mkdir -p "$path"
    echo "$owner $path" >>"${ZOBA_SWAY_STATE:?}/writable"
    chown -R "$user_name:$(id -g "$user_name")" "$path"
    let_user_through "$path"
    (as_user test -w "$path") ||
      die "$user_name cannot reach $path: every folder above it must be searchable (o+x)"
  done
}
# A clone under a private home (/root is 0700) is out of the user's reach: each
# folder above the path that the user cannot search gets o+x for the run.
let_user_through() {
  local folder=$1
  local folders=()
  while [[ $folder != / ]]; do
    folder=$(dirname "$folder")
    folders+=("$folder")
  done
  for folder in "${folders[@]}"; do
    if ! (as_user test -x "$folder"); then
      echo "$(stat -c %a "$folder") $folder" >>"${ZOBA_SWAY_STATE:?}/traversed"
      chmod o+x "$folder"
    fi
  done
}
take_back_writable() {
  local state=$1 owner path mode
  if [[ -f $state/writable ]]; then
    while read -r owner path; do chown -R "$owner" "$path" 2>/dev/null || true; done <"$state/writable"
  fi
  if [[ -f $state/traversed ]]; then
    while read -r mode path; do chmod "$mode" "$path" 2>/dev/null || true; done <"$state/traversed"
  fi
}

case ${1:-} in
  start)
    start_desktop
    ;;
  accessibility)
    start_accessibility
    ;;
  as-user)
    shift
    [[ ${1:-} == -- ]] && shift
    (($# > 0)) || die "usage: $0 as-user -- COMMAND [ARGUMENT...]"
    if is_root; then user_name=${ZOBA_SWAY_USER:-$user_name}; fi
    as_user "$@"
    ;;
  stop)
    stop_desktop "${2:-${ZOBA_SWAY_STATE:-}}"
    ;;
  run)
    shift
    while [[ ${1:-} == --writable ]]; do
      [[ -n ${2:-} ]] || die "--writable needs a path"
      writable+=("$(realpath -m "$2")")
      shift 2
    done
    [[ ${1:-} == -- ]] && shift
    (($# > 0)) || die "usage: $0 run [--writable PATH]... -- COMMAND [ARGUMENT...]"
    env_lines=$(ZOBA_SWAY_STATE='' start_desktop)
    eval "$env_lines"
    unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
    trap 'take_back_writable "$ZOBA_SWAY_STATE"; stop_desktop "$ZOBA_SWAY_STATE"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    give_writable
    status=0
    (as_user "$@") || status=$?
    exit "$status"
    ;;
  *)
    echo "usage: $0 start | stop [STATE_DIR] | accessibility | as-user -- COMMAND | run [--writable PATH]... -- COMMAND [ARGUMENT...]" >&2
    exit 2
    ;;
esac
