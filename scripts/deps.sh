#!/usr/bin/env bash
# Installs what the build and the tests need, on Debian 12 as root.
# Quiet when everything is already there.
set -euo pipefail

packages=(
  cmake make g++ git
  clang libclang-rt-14-dev
  googletest libbenchmark-dev libgif-dev libstb-dev libpng-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine wine64 wine32:i386 fonts-wine fonts-dejavu-core
  xvfb xauth imagemagick xdotool x11-utils time valgrind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# Another install on the machine (another clone's run) is waited for.
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
