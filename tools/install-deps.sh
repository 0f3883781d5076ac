#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Does nothing when all is there.
# With arguments, installs those packages instead (e.g. the fuzzers' clang and runtimes).
set -euo pipefail
default_packages=(
  cmake make g++ googletest zlib1g-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth
  imagemagick zip unzip 7zip osslsigncode openssl
)
if [ $# -gt 0 ]; then packages=("$@"); else packages=("${default_packages[@]}"); fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
dpkg --add-architecture i386
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
