# shellcheck shell=bash
# What the headless Wayland desktops (headless-sway.sh, headless-kwin.sh) share beyond
# scripts/lib/headless-common.sh: the unprivileged user they run as when started by
# root, the paths handed to that user for a run, and their command line. Sourced; the
# sourcing script sets before it:
#   user_name   the desktop's user when run by root
#   state_var   the variable naming a desktop's state directory (ZOBA_SWAY_STATE...)
#   script_name the name messages start with

# shellcheck source=scripts/lib/headless-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-common.sh"

is_root() { [[ $(id -u) -eq 0 ]]; }

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

# The start of start_desktop, which declares `local state`: the user, the state
# directory, and from here on a failure stops what was started.
begin_start() {
  ensure_user
  state=$(make_state "$1")
  starting=$state
  trap 'die "failed at line $LINENO"' ERR
}
