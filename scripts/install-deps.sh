#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  ntfs-3g ntfs-3g-dev
  dosfstools mtools e2fsprogs util-linux sleuthkit
  googletest libgtest-dev libgmock-dev
  fonts-dejavu-core
  zlib1g-dev
  fdisk libfdisk-dev
  strace time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
