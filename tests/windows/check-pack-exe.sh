#!/usr/bin/env bash
# pack.exe under Wine and the host's pack, given the same demo suite, stub, program and label,
# must write the same payloads (deflate and lzma) and the same image, byte for byte; both images must inspect alike.
#   check-pack-exe.sh WINE_RUN WINE_ROOT PACK_EXE HOST_PACK SFX_EXE SETUP_EXE SUITE_DIR WORK_DIR
set -euo pipefail
wine_run=$1 wine_root=$2 pack_exe=$3 host_pack=$4 sfx=$5 setup=$6 suite=$7 work=$8
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
  "${run[@]}" inspect "$work/$tool-image.exe" </dev/null | tr -d '\r' |
    sed "s|^image: .*|image:|" >"$work/$tool-inspect.txt"
done
for file in payload.exe lzma-payload.exe image.exe inspect.txt; do
  if cmp "$work/host-$file" "$work/windows-$file"; then
    echo "same $file: $(stat -c %s "$work/host-$file") bytes"
  else
    echo "FAIL: pack.exe and pack wrote different $file"
    status=1
  fi
done
echo "pack.exe: $(stat -c %s "$pack_exe") bytes"
exit $status
