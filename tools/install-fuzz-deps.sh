#!/usr/bin/env bash
# Installs what `make fuzz` needs on Debian 12, as root: clang with its libFuzzer and sanitizer
# runtimes, CMake and zlib. Does nothing when all is there.
set -euo pipefail
packages=(clang libclang-rt-14-dev cmake make zlib1g-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-fuzz-deps: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
echo "install-fuzz-deps: installing ${missing[*]}"
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
