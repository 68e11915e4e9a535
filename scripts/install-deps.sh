#!/usr/bin/env bash
# Installs the Debian packages a purpose needs. Idempotent: a quick no-op when
# everything is present.
#
#   scripts/install-deps.sh demo    building the helper and its demo on a headless desktop
#   scripts/install-deps.sh [test]  that, and what the tests, benchmarks and package check need
#   scripts/install-deps.sh PURPOSE --print   the packages' names, installing nothing
set -euo pipefail

purpose=${1:-test}
print=${2:-}
case $purpose in demo | test) ;; *)
  echo "usage: $0 [demo|test]" >&2
  exit 2
  ;;
esac

demo=(
  # build the helper
  cmake ninja-build g++ pkg-config libicu-dev nlohmann-json3-dev
  libglib2.0-dev libsystemd-dev libcairo2-dev libpng-dev zlib1g-dev libturbojpeg0-dev uuid-dev
  libxcb1-dev libxcb-xinput-dev libxcb-randr0-dev libxcb-shm0-dev libxcb-composite0-dev
  libxcb-shape0-dev libxcb-damage0-dev
  # its Wayland backend: the client library and the protocol files
  # (librust-wayland-protocols-dev ships the wlroots ones, layer-shell and screencopy,
  # under /usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/)
  libwayland-dev wayland-protocols librust-wayland-protocols-dev
  # the headless desktop and the demo's GTK window
  xvfb xauth x11-utils openbox dbus dbus-x11 at-spi2-core
  python3-gi python3-cairo gir1.2-gtk-3.0 fonts-liberation gsettings-desktop-schemas
)
packages=(
  # the tests', benchmarks' and fuzzers' build
  clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev libbenchmark-dev
  libxcb-xfixes0-dev libxcb-xtest0-dev
  # the desktop tests' tools, browser and other window managers (ZOBA_DESKTOP_WM);
  # maim, the capture benchmark's yardstick
  x11-xserver-utils xdotool chromium xfwm4 i3-wm twm maim
  # the package check: shlibdeps and a fresh Debian root
  dpkg-dev debootstrap
  # the outline coverage tool (bench/ax/outline_coverage.py)
  python3-pyatspi
)
# Real applications of the other toolkits the desktop tests capture, without their
# recommendations (which would add hundreds of megabytes).
apps=(firefox-esr python3-pyqt5 libreoffice-writer libreoffice-gtk3 gir1.2-gtk-4.0 mousepad
  # an application without accessibility; a GTK 3 document viewer; a VTE terminal;
  # GTK 2's demo program (a table that manages its descendants) and its bridge
  xterm evince sakura gtk2.0-examples libgail-common libatk-adaptor
  # the headless Wayland desktop (scripts/headless-sway.sh): sway, its screenshots and
  # keys, Xwayland
  sway grim wtype xwayland
  # the headless KDE Plasma compositor (scripts/headless-kwin.sh), its fake-input
  # protocol for the tests' keys, and Qt's Wayland platform for native Qt windows
  kwin-wayland plasma-wayland-protocols qtwayland5)
if [[ $purpose == demo ]]; then
  packages=("${demo[@]}")
  apps=()
else
  packages+=("${demo[@]}")
  # The Node client's tests (clients/node): Debian's Node only where none is on PATH,
  # so that a newer one a developer installed is left alone.
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then packages+=(nodejs npm); fi
fi

if [[ $print == --print ]]; then
  printf '%s\n' "${packages[@]}" "${apps[@]}"
  exit 0
fi

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
