#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: a quick no-op when everything is present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-format
  libicu-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libglib2.0-dev libsystemd-dev libcairo2-dev libpng-dev libturbojpeg0-dev uuid-dev
  libxcb1-dev libxcb-xinput-dev libxcb-randr0-dev libxcb-shm0-dev libxcb-composite0-dev
  libxcb-xfixes0-dev libxcb-shape0-dev libxcb-xtest0-dev libxcb-damage0-dev
  # headless desktop for the tests and the demo
  xvfb xauth x11-utils x11-xserver-utils xdotool openbox dbus dbus-x11 at-spi2-core
  python3-gi gir1.2-gtk-3.0 chromium fonts-liberation gsettings-desktop-schemas
  # the outline coverage tool (bench/ax/outline_coverage.py)
  python3-pyatspi
  # other window managers the desktop can run (ZOBA_DESKTOP_WM)
  xfwm4 i3-wm twm
)
# Real applications of the other toolkits the desktop tests capture, without their
# recommendations (which would add hundreds of megabytes).
apps=(firefox-esr python3-pyqt5 libreoffice-writer libreoffice-gtk3 gir1.2-gtk-4.0
  # an application without accessibility; a GTK 3 document viewer; a VTE terminal
  xterm evince sakura
  # the headless Wayland desktop (scripts/headless-sway.sh) and the Wayland backend:
  # sway, its screenshots and keys, Xwayland, the client library and the protocol
  # files (librust-wayland-protocols-dev ships the wlroots ones, layer-shell and
  # screencopy, under /usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/)
  sway grim wtype xwayland libwayland-dev wayland-protocols librust-wayland-protocols-dev)

absent() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || echo "$package"
  done
}
mapfile -t missing < <(absent "${packages[@]}")
mapfile -t missing_apps < <(absent "${apps[@]}")

if ((${#missing[@]} == 0 && ${#missing_apps[@]} == 0)); then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "install-deps: installing ${missing[*]} ${missing_apps[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if ((${#missing[@]} > 0)); then $sudo apt-get install -y -qq "${missing[@]}" >/dev/null; fi
if ((${#missing_apps[@]} > 0)); then
  $sudo apt-get install -y -qq --no-install-recommends "${missing_apps[@]}" >/dev/null
fi
