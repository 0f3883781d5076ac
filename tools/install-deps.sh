#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Does nothing when all is there.
# With arguments, installs those packages instead (e.g. the fuzzers' clang and runtimes).
#
# A package mirror in the middle of a sync serves indexes that fail to download, or an i386 index
# older than its amd64 twin (multiarch packages then disagree on versions). The script retries
# the index update, goes on with what apt has, retries a failed install with the failed suites'
# priority lowered for that one call, and, when only Wine's 32-bit loader cannot be had, installs
# the rest: the tests then run the 64-bit build under Wine's 64-bit loader. That fall-back is
# remembered in build/, so later runs do not ask the mirror again (make clean forgets it).
#
# INSTALL_DEPS_TRIES (3) and INSTALL_DEPS_PAUSE (seconds, 20) set the update's retries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fallback_marker=${INSTALL_DEPS_MARKER:-$root/build/deps-fallback-x64}
tries=${INSTALL_DEPS_TRIES:-3}
pause=${INSTALL_DEPS_PAUSE:-20}
loader32=wine32:i386
default_packages=(
  cmake make g++ googletest zlib1g-dev liblzma-dev dpkg-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine "$loader32" wine64 xvfb xauth
  imagemagick zip unzip 7zip osslsigncode openssl liblnk-utils nsis
)
if [ $# -gt 0 ]; then packages=("$@"); else packages=("${default_packages[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  # An earlier run fell back to the 64-bit build: do not ask the mirror for the loader again.
  [ "$p" = "$loader32" ] && [ -f "$fallback_marker" ] && continue
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
summary=()

# The suites (dists/NAME/) of the indexes that the last update could not fetch.
failed_suites() {
  sed -n 's|^E: Failed to fetch .*/dists/\([^/ ]*\)/.*|\1|p' "$work/update.log" | sort -u
}

update_indexes() {
  local attempt
  for ((attempt = 1; ; attempt++)); do
    if apt-get update -q >"$work/update.log" 2>&1 && ! grep -q '^E: ' "$work/update.log"; then
      cat "$work/update.log"
      return 0
    fi
    cat "$work/update.log"
    [ "$attempt" -ge "$tries" ] && break
    echo "install-deps: apt-get update failed (try $attempt of $tries); trying again in ${pause} s"
    sleep "$pause"
  done
  local suites
  suites=$(failed_suites | paste -sd ' ' -)
  summary+=("apt-get update failed $tries times (${suites:-see the errors above}); went on with the indexes apt has")
  echo "install-deps: ${summary[-1]}"
}

# apt-get install, its output shown and kept in $work/install.log.
install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" \
    >"$work/install.log" 2>&1
  local rc=$?
  cat "$work/install.log"
  return $rc
}

# A priority file for one apt call: the suites that failed to update (else the security suite,
# whose i386 twin lags on a mirror in sync) are preferred below the main suite, so both
# architectures get the same versions. It lives in $work and is gone when the script ends.
lower_suites_options() {
  local suites
  suites=$(failed_suites)
  : >"$work/preferences"
  if [ -z "$suites" ]; then
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n\n' >"$work/preferences"
  fi
  for s in $suites; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$s" >>"$work/preferences"
  done
  mkdir -p "$work/preferences.d"
  echo "-o Dir::Etc::Preferences=$work/preferences -o Dir::Etc::PreferencesParts=$work/preferences.d"
}

# The packages apt names as the reason an install failed.
unavailable_packages() {
  sed -n -e "s/^E: Unable to locate package \(.*\)/\1/p" \
    -e "s/^E: Package '\(.*\)' has no installation candidate/\1/p" \
    -e 's/^ \{0,2\}\([^ :][^ ]*\) : \(Pre\)\{0,1\}Depends:.*/\1/p' "$work/install.log" |
    sort -u | paste -sd ' ' -
}

give_up() {
  local names
  names=$(unavailable_packages)
  local why="cannot install ${names:-${missing[*]}}"
  if [ -n "$(failed_suites)" ]; then
    why+=": the package mirror is in the middle of a sync; try again later"
  fi
  for line in "${summary[@]}"; do echo "install-deps: $line"; done
  echo "install-deps: $why" >&2
  exit 1
}

echo "install-deps: installing ${missing[*]}"
dpkg --add-architecture i386
update_indexes
if ! install "${missing[@]}"; then
  read -r -a lower <<<"$(lower_suites_options)"
  lowered=$(sed -n 's/^Pin: release //p' "$work/preferences" | paste -sd ' ' -)
  summary+=("the install failed; tried again preferring the main suite's versions ($lowered at priority 100, for that one install)")
  echo "install-deps: ${summary[-1]}"
  if ! install "${lower[@]}" "${missing[@]}"; then
    rest=()
    for p in "${missing[@]}"; do [ "$p" = "$loader32" ] || rest+=("$p"); done
    [ ${#rest[@]} -lt ${#missing[@]} ] || give_up
    [ ${#rest[@]} -eq 0 ] || install "${lower[@]}" "${rest[@]}" || give_up
    mkdir -p "$(dirname "$fallback_marker")"
    echo "note: $loader32 could not be installed from the package mirror; the tests and the demo run" \
      "the 64-bit build under Wine's 64-bit loader (make clean, then make, tries again)" \
      >"$fallback_marker"
    summary+=("installed everything but $loader32")
    for line in "${summary[@]}"; do echo "install-deps: $line"; done
    cat "$fallback_marker"
    exit 0
  fi
fi
summary+=("installed ${missing[*]}")
for line in "${summary[@]}"; do echo "install-deps: $line"; done
