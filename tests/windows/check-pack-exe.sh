#!/usr/bin/env bash
# pack.exe under Wine and the host's pack, given the same demo suite, stub, program and label,
# must write the same payloads (deflate and lzma) and the same images (one with a version and a
# publisher stamped), byte for byte; both images must inspect alike. Windows must read the
# stamped version resource as stamped (VERSION_INFO_EXE: GetFileVersionInfoW, VerQueryValueW),
# and both tools must refuse an --out that is an input or lies in --from alike, writing nothing.
#   check-pack-exe.sh WINE_RUN WINE_ROOT PACK_EXE HOST_PACK SFX_EXE SETUP_EXE SUITE_DIR WORK_DIR
#                     VERSION_INFO_EXE
set -euo pipefail
wine_run=$1 wine_root=$2 pack_exe=$3 host_pack=$4 sfx=$5 setup=$6 suite=$7 work=$8
version_info=$9
# Wine takes the command line's non-ASCII characters from UTF-8 only in a UTF-8 locale.
export LC_ALL=C.UTF-8
publisher='Acme Tööls Ltd'
if [ -z "$host_pack" ] || [ ! -x "$host_pack" ]; then
  echo "check-pack-exe: the host's pack is missing ('$host_pack'); configure with -DPACK_EXE" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
status=0
for tool in host windows; do
  if [ $tool = host ]; then run=("$host_pack"); else run=("$wine_run" "$wine_root" "$pack_exe"); fi
  "${run[@]}" archive --stub "$sfx" --from "$suite" --out "$work/$tool-payload.exe" </dev/null
  "${run[@]}" archive --stub "$sfx" --from "$suite" --out "$work/$tool-lzma-payload.exe" \
    --method lzma </dev/null
  "${run[@]}" image --program "$setup" --payload "$work/$tool-payload.exe" --label v1.0.0 \
    --out "$work/$tool-image.exe" </dev/null
  "${run[@]}" image --program "$setup" --payload "$work/$tool-payload.exe" --version 2.1.0 \
    --publisher "$publisher" --out "$work/$tool-stamped.exe" </dev/null
  "${run[@]}" inspect "$work/$tool-image.exe" </dev/null | tr -d '\r' |
    sed "s|^image: .*|image:|" >"$work/$tool-inspect.txt"
done
for file in payload.exe lzma-payload.exe image.exe stamped.exe inspect.txt; do
  if cmp "$work/host-$file" "$work/windows-$file"; then
    echo "same $file: $(stat -c %s "$work/host-$file") bytes"
  else
    echo "FAIL: pack.exe and pack wrote different $file"
    status=1
  fi
done

# What Windows reads of the version resource: the program as built, and the stamped image.
version_of() { # version_of FILE EXPECTED
  local read
  read=$("$wine_run" "$wine_root" "$version_info" "$1" </dev/null | tr -d '\r') || true
  if [ "$read" = "$2" ]; then
    echo "version resource of $(basename "$1"): $(tr '\n' ';' <<<"$read")"
  else
    printf 'FAIL: the version resource of %s reads\n%s\ninstead of\n%s\n' "$1" "$read" "$2"
    status=1
  fi
}
version_of "$setup" $'fixed file 1.0.0.1 product 1.0.0.1\nCompanyName= (1)
FileVersion=1, 0, 0, 1 (11)\nProductVersion=1, 0, 0, 1 (11)'
version_of "$work/host-stamped.exe" "fixed file 2.1.0.0 product 2.1.0.0
CompanyName=$publisher (15)
FileVersion=2.1.0 (6)
ProductVersion=2.1.0 (6)"

# Refusals: an --out that is an input under another name or lies in --from; exit 2, the same line
# from both tools, and every file under WORK_DIR as it was.
mkdir -p "$work/refuse/folder"
cp "$sfx" "$work/refuse/stub.exe"
ln "$work/refuse/stub.exe" "$work/refuse/hard.exe"
ln -s stub.exe "$work/refuse/soft.exe"
cp -r "$suite" "$work/refuse/suite"
ln -s suite "$work/refuse/suite-link"
r=$work/refuse
for args in "archive --stub $r/stub.exe --from $r/suite --out $r/folder/../stub.exe" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/hard.exe" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/soft.exe" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/suite/payload.exe" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/suite-link/Drivers/payload.exe" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/suite" \
            "archive --stub $r/stub.exe --from $r/suite --out $r/folder" \
            "image --program $setup --payload $work/host-payload.exe --label v1 --out $work/./host-payload.exe"; do
  before=$(find "$work" -type f -exec md5sum {} + | sort)
  for tool in host windows; do
    if [ $tool = host ]; then run=("$host_pack"); else run=("$wine_run" "$wine_root" "$pack_exe"); fi
    code=0
    # shellcheck disable=SC2086 # the arguments hold no blanks
    "${run[@]}" $args </dev/null >/dev/null 2>"$work/$tool-refusal.txt" || code=$?
    echo $code >>"$work/$tool-refusal.txt"
  done
  after=$(find "$work" -type f ! -name '*-refusal.txt' -exec md5sum {} + | sort)
  if [ "$(tr -d '\r' <"$work/windows-refusal.txt")" = "$(cat "$work/host-refusal.txt")" ] &&
    [ "$(tail -1 "$work/host-refusal.txt")" = 2 ] && [ "$before" = "$after" ]; then
    echo "refused alike: $(head -1 "$work/host-refusal.txt")"
  else
    echo "FAIL: pack $args: host: $(tr '\n' ' ' <"$work/host-refusal.txt")," \
      "pack.exe: $(tr -d '\r' <"$work/windows-refusal.txt" | tr '\n' ' ')"
    [ "$before" = "$after" ] || echo "FAIL: files under $work changed"
    status=1
  fi
  rm -f "$work"/*-refusal.txt
done

echo "pack.exe: $(stat -c %s "$pack_exe") bytes"
exit $status
