#!/usr/bin/env bash
# Installs what building and testing Tachoro needs on Debian.
# Usage: scripts/install-deps.sh [native|all]   (default: all)
set -euo pipefail
what=${1:-all}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

packages=(cmake make g++ googletest libgtest-dev clang libclang-rt-dev)
if [ "$what" = all ]; then
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
             wine wine64 xvfb xauth python3 python3-pyte python3-jsonschema locales
             mandoc dpkg-dev file)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
