#!/usr/bin/env bash
# Builds the release helper and its Debian package, installs the package with apt into
# a fresh Debian 12 root (debootstrap, minbase) and captures a window of the headless
# desktop with the installed helper from inside that root: the package's dependencies
# are whole when a root with nothing else runs it.
#
#   bash scripts/package-check.sh          (as root; CI runs it once)
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD

if [[ $(id -u) -ne 0 ]]; then
  echo "package-check: needs root for the chroot; skipped" >&2
  exit 0
fi

cmake --preset release >/dev/null
cmake --build --preset release -j "${ZOBA_JOBS:-$(nproc)}"
(cd build/release && cpack >/dev/null)
deb=$(ls build/release/zoba-capture_*_amd64.deb)
echo "package-check: $deb" >&2
dpkg-deb -I "$deb" | sed -n '/Depends:/p;/Recommends:/p' >&2
# The helper and its desktop file alone: no test, benchmark or symbol file.
contents=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
if [[ $contents != "./usr/bin/zoba-capture ./usr/share/applications/zoba-capture.desktop " ]]; then
  echo "package-check: unexpected contents:" >&2
  echo "$contents" >&2
  exit 1
fi

# The mirror this machine installs from (Debian's registry).
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

work=$(mktemp -d /tmp/zoba-package.XXXXXX)
chroot_dir=$work/root
mounts=()
cleanup() {
  local index
  for ((index = ${#mounts[@]} - 1; index >= 0; index--)); do umount -l "${mounts[index]}" 2>/dev/null || true; done
  # Only once nothing of the host is mounted inside.
  if ! grep -q " $work/" /proc/mounts; then rm -rf --one-file-system "$work"; fi
}
trap cleanup EXIT

echo "package-check: a fresh Debian 12 root from $mirror" >&2
debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
cp "$deb" "$chroot_dir/tmp/zoba-capture.deb"
chroot "$chroot_dir" apt-get update -qq
chroot "$chroot_dir" env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes \
  apt-get install -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends /tmp/zoba-capture.deb >/dev/null

# What the demo installs on a fresh machine holds no browser or office suite.
mapfile -t demo_packages < <(bash scripts/install-deps.sh demo --print)
heavy=$(chroot "$chroot_dir" apt-get install -s -qq "${demo_packages[@]}" |
  awk '/^Inst / {print $2}' | grep -E '^(chromium|firefox|libreoffice|qt|python3-pyqt)' || true)
if [[ -n $heavy ]]; then
  echo "package-check: the demo's packages pull in:" $heavy >&2
  exit 1
fi

# The helper inside the root reaches the host's headless desktop: its X socket, its
# session bus (in the desktop's runtime directory) and /proc, /dev for itself.
bind() {
  mkdir -p "$chroot_dir$2"
  mount --bind "$1" "$chroot_dir$2"
  mounts+=("$chroot_dir$2")
}
mkdir -p "$chroot_dir/proc"
mount -t proc proc "$chroot_dir/proc"
mounts+=("$chroot_dir/proc")
bind /dev /dev
bind /tmp/.X11-unix /tmp/.X11-unix
mkdir -p "$work/out"
bind "$work/out" /tmp/out

export ZOBA_PACKAGE_ROOT=$chroot_dir
scripts/headless-desktop.sh run -- bash -c '
  set -euo pipefail
  runtime=$XDG_RUNTIME_DIR
  mkdir -p "$ZOBA_PACKAGE_ROOT$runtime"
  mount --bind "$runtime" "$ZOBA_PACKAGE_ROOT$runtime"
  trap "umount -l \"$ZOBA_PACKAGE_ROOT$runtime\"" EXIT
  scripts/with-demo-window.sh chroot "$ZOBA_PACKAGE_ROOT" env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" \
    XDG_RUNTIME_DIR="$runtime" DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
    zoba-capture --debug-capture /tmp/out/capture.png --delay 0 >"$ZOBA_PACKAGE_ROOT/tmp/out/line"
'
line=$(cat "$work/out/line")
echo "package-check: ${line:0:300}" >&2
/usr/bin/python3 - "$work/out/line" <<'PY'
import json, sys
line = json.load(open(sys.argv[1]))
capture = line.get("capture") or {}
assert line.get("type") == "debugCapture", line
assert "error" not in line, line
assert capture.get("windowTitle") == "ZobaCapture demo", capture.get("windowTitle")
assert capture.get("image", {}).get("width", 0) > 0, capture.get("image")
assert "ZobaCapture demo" in capture.get("text", ""), capture.get("text")
PY
test -s "$work/out/capture.png"
# KWin grants screenshots to the installed path.
grep -qx "Exec=/usr/bin/zoba-capture" "$chroot_dir/usr/share/applications/zoba-capture.desktop"
echo "package-check: the installed package captured the demo window from a fresh Debian 12 root" >&2
