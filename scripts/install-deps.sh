#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent and non-interactive: it asks apt only when something is missing,
# and then runs 'apt-get update' once before installing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev llvm
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libgl-dev fonts-dejavu-core
  libusb-1.0-0-dev umockdev libumockdev-dev
  sdcc-ucsim  # s51: the firmware suite runs the FX2 firmware in it
  libboost-dev libboost-thread-dev
  libxlsxwriter-dev python3-openpyxl
  pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth xdotool imagemagick x11-utils
  libfftw3-dev          # the scope's spectrum
  libtomlplusplus-dev   # campaign plans
  libsqlite3-dev        # campaign results
  libavahi-client-dev   # the SCPI server's mDNS announcement
  nlohmann-json3-dev    # reading a recording's JSON header
  python3-pyvisa python3-pyvisa-py python3-pymeasure python3-pandas
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
