#!/usr/bin/env bash
# Fetches and unpacks Debian's source package of xz-utils at VERSION into CACHE/xz-utils-VERSION
# (the Windows builds make their static liblzma from it). Does nothing when that is there already.
#
# apt-get runs with a sources file and index folder of its own (deb-src lines for the machine's
# own mirrors, read from its apt sources), so the machine's apt set-up stays as it was. apt checks
# the index signatures and the .dsc's checksums; dpkg-source applies Debian's patches.
#
# usage: fetch-xz-source.sh VERSION CACHE
set -euo pipefail
version=$1
cache=$2
target=$cache/xz-utils-$version
[ -f "$target/.complete" ] && exit 0

# The mirrors and suites of the machine's own "deb" sources, one "URI SUITE" a line.
mirrors() {
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk '/^URIs:/ {uri = $2} /^Suites:/ {for (i = 2; i <= NF; i++) print uri, $i}
         /^$/ {uri = ""}' /etc/apt/sources.list.d/debian.sources
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) \([^ ]*\) .*/\2 \3/p' /etc/apt/sources.list
  fi
}

mkdir -p "$cache"
work=$(mktemp -d "$cache/.fetch-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/parts" "$work/source"
mirrors | sort -u | while read -r uri suite; do
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main"
done >"$work/sources.list"
if [ ! -s "$work/sources.list" ]; then
  echo "fetch-xz-source: no Debian mirror found in /etc/apt/sources.list(.d)" >&2
  exit 1
fi
options=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists" -o "APT::Sandbox::User=root")
# A suite whose index fails (a mirror in the middle of a sync) does not matter as long as the one
# that holds this version is there: apt-get source says so if it is not.
apt-get "${options[@]}" update -q || echo "fetch-xz-source: some indexes failed; going on" >&2
(cd "$work/source" && apt-get "${options[@]}" source -q "xz-utils=$version")
unpacked=$(find "$work/source" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
[ -n "$unpacked" ] || { echo "fetch-xz-source: apt-get source unpacked nothing" >&2; exit 1; }
touch "$unpacked/.complete"
# Another build tree may have fetched it meanwhile: keep whichever came first.
mv -T "$unpacked" "$target" 2>/dev/null || [ -f "$target/.complete" ]
