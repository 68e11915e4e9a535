# shellcheck shell=bash
# What every headless desktop script (headless-desktop.sh, headless-sway.sh,
# headless-kwin.sh) shares: failing cleanly during a start, waiting, the processes
# marked as the desktop's and stopping them, the session bus and accessibility.
# Sourced; the sourcing script sets before it:
#   state_var   the variable naming a desktop's state directory (ZOBA_DESKTOP_STATE...)
#   script_name the name messages start with

: "${state_var:?}" "${script_name:?}"
starting=""  # the state directory of a start in progress, stopped if it fails

die() {
  echo "$script_name: $*" >&2
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

require_tools() {
  local tool
  for tool; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
  done
}

# Runs the command after it as the desktop's user (exec'd, so $! is its pid); the
# Wayland desktops, run by root, redefine it.
as_user() { exec "$@"; }

# With the state variable naming a running desktop, prints its environment again.
print_running_desktop() {
  local state=${!state_var:-}
  [[ -n $state && -f $state/env ]] && alive "$(head -n 1 "$state/pids" 2>/dev/null)" || return 1
  cat "$state/env"
}

# Ends a start that succeeded: nothing is stopped on failure from here, and the
# environment is printed.
finish_start() {
  trap - ERR
  starting=""
  cat "$1/env"
}

# Processes started for the desktop carry the state variable in their environment,
# including those the bus and the compositor started (which are not our children).
marked_pids() {
  local state=$1
  env -u "$state_var" grep -slzx "$state_var=$state" /proc/[0-9]*/environ 2>/dev/null |
    sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' | grep -v -x -e "$$" -e "$BASHPID" || true
}

# Stops the pids of $state/pids (the display server or compositor heads the list) and
# the marked processes, removes an X display's socket and lock that nobody cleaned up,
# then the state directory.
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

# Starts the desktop's session bus at $XDG_RUNTIME_DIR/bus; exports its address and
# appends its pid to $state/pids. Services it activates (the accessibility bus
# launcher) inherit this environment.
start_session_bus() {
  local state=$1 runtime=$XDG_RUNTIME_DIR
  (as_user dbus-daemon --session --fork --nopidfile --address="unix:path=$runtime/bus" \
    --print-address=1 --print-pid=1) </dev/null >"$state/dbus" 2>"$state/dbus.log" ||
    die "dbus-daemon did not start: $(cat "$state/dbus.log")"
  grep -E '^[0-9]+$' "$state/dbus" >>"$state/pids"
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(grep -v -E '^[0-9]+$' "$state/dbus" | head -n 1)
}

# Activates the accessibility bus and switches accessibility on, so that toolkits
# started from now on join it, and starts its registry. Also brings them back after
# they went away (a test of the helper under that fault does this).
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
