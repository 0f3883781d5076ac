#!/usr/bin/env bash
# Rewrites the seed corpus in tests/fuzz/corpus: archives of the project's own writer, of Info-ZIP
# zip and of 7-Zip, stored, deflated and LZMA (7-Zip's with and without its end marker), bare,
# behind a stub and with an installer trailer after them, and installer images and trailers.
# Run after `make fuzz` has built build/fuzz.
#   tests/fuzz/make-seeds.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/fuzz}
zips=$here/corpus/zip_reader
images=$here/corpus/image_trailer
sevenzip=$(command -v 7zz || command -v 7z)
rm -rf "$zips" "$images"
mkdir -p "$zips" "$images"
"$build/write_seeds" "$zips" "$images"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/Drivers"
printf 'Torvane Software Suite\r\n\r\nRun setup again to repair the suite.\r\n%.0s' 1 2 3 \
  >"$work/files/README.TXT"
printf 'pellisar\r\n' >"$work/files/Drivers/pellisar.flg"
: >"$work/files/Drivers/empty.flg"
head -c 300 "$build/write_seeds" | tail -c 200 >"$work/stub.bin"

# A 20-byte installer trailer for a payload of the given file's length.
trailer() {
  local length
  length=$(stat -c %s "$1")
  printf 'v1.0.0\0\0\0\0\0\0\0\0\0\0'
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((length & 255)) $((length >> 8 & 255)) \
    $((length >> 16 & 255)) $((length >> 24 & 255)))"
}

# Writes NAME.zip and NAME-stub-trailer.bin (stub + archive + trailer) from an archive.
keep() {
  local archive=$1 name=$2
  cp "$archive" "$zips/$name.zip"
  cat "$work/stub.bin" "$archive" >"$work/payload"
  { cat "$work/payload"; trailer "$work/payload"; } >"$zips/$name-stub-trailer.bin"
}

(cd "$work/files" && TZ=UTC zip -q -X -r -9 "$work/infozip-deflate.zip" README.TXT Drivers)
(cd "$work/files" && TZ=UTC zip -q -X -r -0 "$work/infozip-stored.zip" README.TXT Drivers)
(cd "$work/files" && zip -q -X -z "$work/infozip-deflate.zip" <<<"Torvane archive comment" >/dev/null)
(cd "$work/files" && "$sevenzip" a -tzip -mx9 "$work/7z-deflate.zip" README.TXT Drivers >/dev/null)
(cd "$work/files" && "$sevenzip" a -tzip -mx0 "$work/7z-stored.zip" README.TXT Drivers >/dev/null)
keep "$work/infozip-deflate.zip" infozip-deflate
keep "$work/infozip-stored.zip" infozip-stored
keep "$work/7z-deflate.zip" 7z-deflate
keep "$work/7z-stored.zip" 7z-stored
(cd "$work/files" && "$sevenzip" a -tzip -mm=LZMA "$zips/7z-lzma.zip" README.TXT Drivers >/dev/null)
(cd "$work/files" &&
  "$sevenzip" a -tzip -mm=LZMA:eos=off "$zips/7z-lzma-no-marker.zip" README.TXT Drivers >/dev/null)
# Streamed through a pipe, zip writes a data descriptor after the entry; streamed into a file it
# can seek in, it writes Zip64 end records instead.
printf 'streamed entry\n%.0s' 1 2 3 4 | zip -q -X - - | cat >"$zips/infozip-data-descriptor.zip"
printf 'streamed entry\n%.0s' 1 2 3 4 | zip -q -X - - >"$zips/infozip-zip64.zip"
# An archive whose stub was prepended afterwards, with offsets fixed up by zip -A.
cat "$work/stub.bin" "$work/infozip-stored.zip" >"$work/adjusted.zip"
zip -q -A "$work/adjusted.zip"
cp "$work/adjusted.zip" "$zips/infozip-stub-adjusted.zip"

cp "$work/stub.bin" "$work/program.exe"
{ cat "$work/program.exe" "$work/7z-deflate.zip"; trailer "$work/7z-deflate.zip"; } \
  >"$images/image-7z.exe"
{ cat "$work/program.exe" "$work/infozip-stored.zip"; trailer "$work/infozip-stored.zip"; } \
  >"$images/image-infozip.exe"
ls -l "$zips" "$images"
