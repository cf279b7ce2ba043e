#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need.
# Idempotent: when everything is present it changes nothing and needs no network.
set -euo pipefail

PACKAGES=(
  cmake g++ clang make pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libfftw3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libfreetype-dev fonts-dejavu-core
  zlib1g-dev libpng-dev
  clang clang-14 libclang-rt-14-dev
  qt6-base-dev
  libpulse-dev pulseaudio
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
