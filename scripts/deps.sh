#!/usr/bin/env bash
# Installs the Debian packages Lumivore needs. Idempotent: when everything is present it only
# checks and returns.
#   deps.sh        what building and running need (and the virtual desktop of the demo)
#   deps.sh test   that, plus what the tests, fuzzing and benchmarks need
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # the Debian package (cpack -G DEB finds the libraries' packages with dpkg-shlibdeps)
  file
  qt6-base-dev qt6-base-dev-tools
  libxcb1-dev libxcb-shm0-dev libxcb-shape0-dev libxcb-xtest0-dev libxcb-xfixes0-dev
  libxcb-randr0-dev libxcb-xinerama0-dev libxcb-icccm4-dev libxcb-ewmh-dev libxcb-image0-dev
  libxcb-keysyms1-dev libxcb-cursor-dev libxcb-composite0-dev libxcb-damage0-dev
  libx11-dev libx11-xcb-dev libxtst-dev
  libcanberra-dev libasound2-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libgif-dev libjxr-dev libjxr-tools libwebp-dev
  libimagequant-dev libdeflate-dev libhwy-dev libzstd-dev nlohmann-json3-dev
  fonts-ipafont-gothic qt6-translations-l10n
  # the virtual desktop that ./run shows when there is no display
  xvfb openbox xterm x11-utils xdotool imagemagick
)
test_packages=(
  # tests, fuzzing and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  libvips-dev libmagick++-dev python3-pil
  python3 python3-pytest python3-pytest-timeout
  # the real clients and witnesses the end-to-end tests drive
  x11-apps x11-xserver-utils wmctrl xclip
  # the peers of the command-line benchmark
  maim scrot hyperfine
  # the window managers of the end-to-end matrix (xfwm4 needs a session bus)
  xfwm4 fluxbox i3-wm dbus-daemon kwin-x11 kwin-style-breeze
  # a Wayland session: weston's headless compositor with Xwayland, and the tests' own
  # desktop portal (Python over GLib's D-Bus) on a private session bus
  weston xwayland python3-gi
  # a real X server with several monitors: Xorg's dummy video driver
  xserver-xorg-core xserver-xorg-video-dummy
  # a compositor beside the window managers that have none of their own
  picom
  # the validators of the installed desktop entry, metainfo and man page
  desktop-file-utils appstream man-db groff-base bash-completion
)
[ "${1:-}" = test ] && packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}" >/dev/null
