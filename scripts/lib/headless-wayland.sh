# shellcheck shell=bash
# What the headless Wayland desktops (headless-sway.sh, headless-kwin.sh) share: the
# unprivileged user they run as when started by root, waiting, processes marked as
# the desktop's, the session bus and accessibility, and the paths handed to the user
# for a run. Sourced; the sourcing script sets before it:
#   user_name   the desktop's user when run by root
#   state_var   the variable naming a desktop's state directory (ZOBA_SWAY_STATE...)
#   script_name the name messages start with
# and defines stop_desktop STATE, which die calls for a start in progress.

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

# Processes started for the desktop carry the state variable in their environment,
# including those the bus and the compositor started (which are not our children).
marked_pids() {
  local state=$1
  env -u "$state_var" grep -slzx "$state_var=$state" /proc/[0-9]*/environ 2>/dev/null |
    sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' | grep -v -x -e "$$" -e "$BASHPID" || true
}

# Stops the pids of $state/pids (the compositor first) and the marked processes;
# then removes an X display's socket and lock that nobody cleaned up.
stop_processes() {
  local state=$1
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
}

# Creates the state directory with its private runtime directory; prints its path.
make_state() {
  local prefix=$1 state
  state=$(mktemp -d "${TMPDIR:-/tmp}/$prefix.XXXXXX")
  chmod 755 "$state"  # the desktop's user reaches its runtime directory through it
  if is_root; then
    install -d -m 700 -o "$user_name" -g "$(id -g "$user_name")" "$state/runtime"
    # Xwayland, run by the user, puts its socket there; a clean machine may lack it.
    [[ -d /tmp/.X11-unix ]] || install -d -m 1777 /tmp/.X11-unix
  else
    mkdir -m 700 "$state/runtime"
  fi
  : >"$state/pids"
  echo "$state"
}

# Starts the desktop's session bus at $XDG_RUNTIME_DIR/bus; exports its address and
# appends its pid to $state/pids. Services it activates inherit this environment.
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

# Hands each --writable path to the desktop's user for a run, and back afterwards.
writable=()
give_writable() {
  is_root || return 0
  local state=${!state_var:?} path
  for path in "${writable[@]}"; do
    local owner
    if [[ -e $path ]]; then owner=$(stat -c %u:%g "$path"); else owner=$(stat -c %u:%g "$(dirname "$path")"); fi
    mkdir -p "$path"
    echo "$owner $path" >>"$state/writable"
    chown -R "$user_name:$(id -g "$user_name")" "$path"
    let_user_through "$path"
    (as_user test -w "$path") ||
      die "$user_name cannot reach $path: every folder above it must be searchable (o+x)"
  done
}
# A clone under a private home (/root is 0700) is out of the user's reach: each
# folder above the path that the user cannot search gets o+x for the run.
let_user_through() {
  local folder=$1 state=${!state_var:?}
  local folders=()
  while [[ $folder != / ]]; do
    folder=$(dirname "$folder")
    folders+=("$folder")
  done
  for folder in "${folders[@]}"; do
    if ! (as_user test -x "$folder"); then
      echo "$(stat -c %a "$folder") $folder" >>"$state/traversed"
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

# The `run` command: start, hand the --writable paths over, run the command as the
# user, give them back and stop. Needs start_desktop.
run_command() {
  while [[ ${1:-} == --writable ]]; do
    [[ -n ${2:-} ]] || die "--writable needs a path"
    writable+=("$(realpath -m "$2")")
    shift 2
  done
  [[ ${1:-} == -- ]] && shift
  (($# > 0)) || die "usage: $0 run [--writable PATH]... -- COMMAND [ARGUMENT...]"
  local env_lines
  env_lines=$(
    export "$state_var="
    start_desktop
  )
  eval "$env_lines"
  unset AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
  trap 'take_back_writable "${!state_var}"; stop_desktop "${!state_var}"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  give_writable
  local status=0
  (as_user "$@") || status=$?
  exit "$status"
}

# The command line every headless Wayland desktop script takes; `desktop_prefix`
# names its variables (ZOBA_SWAY_USER, ZOBA_SWAY_STATE; ZOBA_KWIN_…). The script
# defines start_desktop and stop_desktop.
desktop_main() {
  local user_variable=${desktop_prefix}_USER state_variable=${desktop_prefix}_STATE
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
      if is_root; then user_name=${!user_variable:-$user_name}; fi
      as_user "$@"
      ;;
    stop)
      stop_desktop "${2:-${!state_variable:-}}"
      ;;
    run)
      shift
      run_command "$@"
      ;;
    *)
      echo "usage: $0 start | stop [STATE_DIR] | accessibility | as-user -- COMMAND | run [--writable PATH]... -- COMMAND [ARGUMENT...]" >&2
      exit 2
      ;;
  esac
}
