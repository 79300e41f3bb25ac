#!/usr/bin/env bash
# Installs what building and testing needs on Debian 12 (the packages listed
# in scripts/packages.txt). Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
packages=$(grep -v '^#' "$(dirname "$0")/packages.txt")
# The x86 Windows build is tested under 32-bit Wine (wine32:i386).
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $packages >/dev/null
