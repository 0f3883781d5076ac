#!/usr/bin/env bash
# Builds the same small suite, a folder and a file named in Cyrillic, into three payloads, one
# per archiver: pack.exe (pack: UTF-8, bit 11), 7zip.exe (7-Zip with -mcu=on: UTF-8, bit 11) and
# infozip.exe (Info-ZIP's zip: UTF-8 as made on Unix, no flag). The archives of the other two
# are appended to the stub as they are, as a vendor would.
#   make-named-archives.sh PACK SFX_EXE OUT_DIR
set -euo pipefail
pack=$1 sfx=$2 out=$3
sevenzip=$(command -v 7zz || command -v 7z)
rm -rf "$out"
mkdir -p "$out/suite/Документы" "$out/suite/ZZZ"
printf 'license' >"$out/suite/Документы/Лицензия.txt"
printf 'done' >"$out/suite/ZZZ/comp.flg"
"$pack" archive --stub "$sfx" --from "$out/suite" --out "$out/pack.exe" 2>"$out/pack.log" ||
  { cat "$out/pack.log" >&2; exit 1; }
(cd "$out/suite" && "$sevenzip" a -tzip -mcu=on -bd "$out/7zip.zip" . >/dev/null)
(cd "$out/suite" && LC_ALL=C.UTF-8 zip -q -r "$out/infozip.zip" .)
cat "$sfx" "$out/7zip.zip" >"$out/7zip.exe"
cat "$sfx" "$out/infozip.zip" >"$out/infozip.exe"
