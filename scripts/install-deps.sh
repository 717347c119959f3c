#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with, when
# any is missing. Safe to run again: it does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev
  libblkid-dev libsystemd-dev
  udisks2 polkitd dbus udev
  libcanberra-dev
  dosfstools ntfs-3g mtools
  fonts-liberation
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  util-linux e2fsprogs
  mingw-w64 wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
