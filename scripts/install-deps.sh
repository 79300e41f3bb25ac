#!/usr/bin/env bash
# Installs what building and testing needs on Debian 12. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config make \
  libgtest-dev googletest libbenchmark-dev \
  libusb-1.0-0-dev libudev-dev \
  iproute2 procps \
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
  wine wine64 >/dev/null
