#!/usr/bin/env bash
# Builds the installer images the end-to-end tests run, one per case, into OUT_DIR:
#   make-images.sh PACK SETUP_EXE SFX_EXE SUITE_DIR LINGERING_PAYLOAD OUT_DIR
# Well-formed images come from `pack`; images with a damaged trailer are put together by hand
# (program, payload, 16-byte label field, 4-byte little-endian length), since pack refuses them.
set -euo pipefail
if [ $# -ne 6 ]; then
  echo "usage: $0 PACK SETUP_EXE SFX_EXE SUITE_DIR LINGERING_PAYLOAD OUT_DIR" >&2
  exit 2
fi
pack=$1 setup=$2 sfx=$3 suite=$4 lingering=$5 out=$6
if [ -z "$pack" ]; then
  echo "make-images: PACK_EXE is not set; configure the Windows build with -DPACK_EXE=<host build>/tools/pack" >&2
  exit 1
fi
for input in "$pack" "$setup" "$sfx" "$lingering"; do
  if [ ! -f "$input" ]; then
    echo "make-images: missing $input (build the host tree for pack, the Windows tree for the rest)" >&2
    exit 1
  fi
done
if [ ! -f "$suite/Torvane.exe" ]; then
  echo "make-images: the demo suite is not staged in $suite" >&2
  exit 1
fi

rm -rf "$out"
mkdir -p "$out"
work=$out/work
mkdir -p "$work"

archive() { # archive NAME FROM_DIR [pack options...]
  local name=$1 from=$2
  shift 2
  "$pack" archive --stub "$sfx" --from "$from" --out "$out/$name.payload" "$@" >/dev/null
}
image() { # image NAME PAYLOAD LABEL
  "$pack" image --program "$setup" --payload "$out/$2.payload" --label "$3" --out "$out/$1.exe" >/dev/null
}
# hand_image NAME PAYLOAD_FILE LABEL_FIELD LENGTH: LABEL_FIELD may hold Perl escapes such as \0;
# it is cut or padded with zero bytes to 16 bytes.
hand_image() {
  local name=$1 payload=$2 label=$3 length=$4
  cat "$setup" "$payload" >"$out/$name.exe"
  perl -e 'binmode STDOUT; print pack("a16 V", eval qq{"$ARGV[0]"}, $ARGV[1])' \
    "$label" "$length" >>"$out/$name.exe"
}
size() { stat -c %s "$1"; }

# The demo suite as shipped, and the labels.
archive full "$suite"
image demo full v1.0.0
image label15 full Release-15chars
hand_image label16 "$out/full.payload" 'ABCDEFGHIJKLMNOP' "$(size "$out/full.payload")"
hand_image empty-label "$out/full.payload" '\0v1.0.0\xffxxxxxxxx' "$(size "$out/full.payload")"

# Length fields that do not fit the file.
hand_image broken-length-huge "$out/full.payload" 'v1.0.0' 2147483000
hand_image broken-length-zero "$out/full.payload" 'v1.0.0' 0

# Suites that carry only some components.
mkdir -p "$work/dromlet-only" "$work/no-components"
cp "$suite/Dromlet.exe" "$suite/Dromlet.txt" "$suite/dromlet.flg" "$work/dromlet-only/"
cp -r "$suite/Drivers" "$suite/Torvane.txt" "$work/no-components/"
archive dromlet-only "$work/dromlet-only"
image dromlet-only dromlet-only v1.0.0
archive no-components "$work/no-components"
image no-components no-components v1.0.0

# An archive that never writes the completion flag.
archive no-completion-flag "$suite" --no-completion-flag
image no-completion-flag no-completion-flag v1.0.0

# A payload that writes its flags and keeps running.
cp "$lingering" "$out/lingering.payload"
image lingering lingering v1.0.0

# An archive with one damaged entry: a byte of Torvane.txt's data flipped, so the entry fails its
# check whether it is stored or deflated.
cp "$out/full.payload" "$out/corrupt.payload"
perl -e '
  my ($path, $entry) = @ARGV;
  open(my $fh, "+<:raw", $path) or die "open $path: $!";
  local $/; my $data = <$fh>;
  my $at = -1;
  while (($at = index($data, "PK\x03\x04", $at + 1)) >= 0) {
    my ($nameLength, $extraLength) = unpack("v v", substr($data, $at + 26, 4));
    next unless substr($data, $at + 30, $nameLength) eq $entry;
    my $size = unpack("V", substr($data, $at + 18, 4));
    my $flip = $at + 30 + $nameLength + $extraLength + ($size > 16 ? 8 : 0);
    seek($fh, $flip, 0); print $fh chr(ord(substr($data, $flip, 1)) ^ 0x5A);
    close($fh); exit 0;
  }
  die "no entry $entry in $path\n";
' "$out/corrupt.payload" Torvane.txt
image corrupt corrupt v1.0.0

# A payload that is not a program at all.
for i in $(seq 1 200); do echo "This payload is plain text, not a program."; done >"$out/not-a-program.payload"
image not-a-program not-a-program v1.0.0

rm -rf "$work"
echo "make-images: $(ls "$out"/*.exe | wc -l) images in $out"
