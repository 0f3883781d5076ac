#!/usr/bin/env bash
# Builds the same small suite, a folder and a file named in Cyrillic and a text that compresses,
# into payloads, one per archiver: pack.exe (pack: UTF-8, bit 11), 7zip.exe (7-Zip with -mcu=on:
# UTF-8, bit 11) and infozip.exe (Info-ZIP's zip: UTF-8 as made on Unix, no flag), and with LZMA
# entries pack-lzma.exe (pack --method lzma) and 7zip-lzma.exe (7-Zip's -mm=LZMA). The archives of
# the other tools are appended to the stub as they are, as a vendor would.
#   make-named-archives.sh PACK SFX_EXE OUT_DIR
set -euo pipefail
pack=$1 sfx=$2 out=$3
sevenzip=$(command -v 7zz || command -v 7z)
rm -rf "$out"
mkdir -p "$out/suite/Документы" "$out/suite/ZZZ"
printf 'license' >"$out/suite/Документы/Лицензия.txt"
printf 'done' >"$out/suite/ZZZ/comp.flg"
seq 1 20000 >"$out/suite/notes.txt"
for method in deflate lzma; do
  name=pack$([ $method = deflate ] || echo -$method)
  "$pack" archive --method $method --stub "$sfx" --from "$out/suite" --out "$out/$name.exe" \
    2>"$out/pack.log" || { cat "$out/pack.log" >&2; exit 1; }
done
(cd "$out/suite" && "$sevenzip" a -tzip -mcu=on -bd "$out/7zip.zip" . >/dev/null)
(cd "$out/suite" && "$sevenzip" a -tzip -mcu=on -mm=LZMA -bd "$out/7zip-lzma.zip" . >/dev/null)
(cd "$out/suite" && LC_ALL=C.UTF-8 zip -q -r "$out/infozip.zip" .)
for archiver in 7zip 7zip-lzma infozip; do
  cat "$sfx" "$out/$archiver.zip" >"$out/$archiver.exe"
done
