#!/usr/bin/env bash
# Builds the installer images the end-to-end tests run, one per case, into OUT_DIR:
#   make-images.sh PACK SETUP_EXE SFX_EXE SUITE_DIR LINGERING_PAYLOAD SLOW_PAYLOAD STALLED_PAYLOAD OUT_DIR
# Well-formed images come from `pack`; images with a damaged trailer or a payload that is no
# archive are put together by hand (program, payload, 16-byte label field, 4-byte little-endian
# length), since pack refuses them.
set -euo pipefail
if [ $# -ne 8 ]; then
  echo "usage: $0 PACK SETUP_EXE SFX_EXE SUITE_DIR LINGERING_PAYLOAD SLOW_PAYLOAD STALLED_PAYLOAD OUT_DIR" >&2
  exit 2
fi
pack=$1 setup=$2 sfx=$3 suite=$4 lingering=$5 slow=$6 stalled=$7 out=$8
if [ -z "$pack" ]; then
  echo "make-images: PACK_EXE is not set; configure the Windows build with -DPACK_EXE=<host build>/tools/pack" >&2
  exit 1
fi
for input in "$pack" "$setup" "$sfx" "$lingering" "$slow" "$stalled"; do
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

# The demo image signed as a vendor signs it, with a certificate made here. Signing appends a
# certificate table behind the trailer; the setup and pack must read in front of it.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Torvane Test Publisher" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Torvane Software Suite" \
  -in "$out/demo.exe" -out "$out/signed.exe" >/dev/null
if ! osslsigncode verify -CAfile "$work/cert.pem" -in "$out/signed.exe" >"$work/verify.txt" 2>&1; then
  echo "make-images: osslsigncode cannot verify signed.exe:" >&2
  cat "$work/verify.txt" >&2
  exit 1
fi
"$pack" inspect "$out/signed.exe" >"$work/inspect.txt"
table=$(( $(size "$out/signed.exe") - $(size "$out/demo.exe") ))
for line in "signature:      certificate table of $table bytes at offset $(size "$out/demo.exe")" \
  'label:          "v1.0.0"' "payload length: $(size "$out/full.payload")" \
  'trailer:        consistent'; do
  if ! grep -qF "$line" "$work/inspect.txt"; then
    echo "make-images: pack inspect signed.exe does not say: $line" >&2
    cat "$work/inspect.txt" >&2
    exit 1
  fi
done
# Bytes after the certificate table: it no longer ends the file, so the image counts as unsigned
# and its last four bytes (zeros) are read as the payload length. The 16 before them would read
# as a label, but a trailer that does not fit has none.
{ cat "$out/signed.exe"; perl -e 'binmode STDOUT; print pack("a16 V", "appended", 0)'; } \
  >"$out/signed-appended.exe"

# Suites that carry only some components.
mkdir -p "$work/dromlet-only" "$work/no-components"
cp "$suite/Dromlet.exe" "$suite/Dromlet.txt" "$suite/dromlet.flg" "$work/dromlet-only/"
cp -r "$suite/Drivers" "$suite/Torvane.txt" "$work/no-components/"
archive dromlet-only "$work/dromlet-only"
image dromlet-only dromlet-only v1.0.0
archive no-components "$work/no-components"
image no-components no-components v1.0.0

# The demo suite zipped by 7-Zip, which sorts the entries: the completion flag ZZZ/comp.flg comes
# before the lower-case component flags, not last.
sevenzip=$(command -v 7zz || command -v 7z || true)
if [ -z "$sevenzip" ]; then
  echo "make-images: 7-Zip (7zz or 7z) is not installed" >&2
  exit 1
fi
mkdir -p "$work/sevenzip/ZZZ"
cp -r "$suite"/. "$work/sevenzip/"
printf 'done' >"$work/sevenzip/ZZZ/comp.flg"
(cd "$work/sevenzip" && "$sevenzip" a -tzip -bd "$work/sevenzip.zip" . >/dev/null)
if unzip -Z1 "$work/sevenzip.zip" | tail -1 | grep -qx 'ZZZ/comp.flg'; then
  echo "make-images: 7-Zip put the completion flag last; the case would prove nothing" >&2
  exit 1
fi
cat "$sfx" "$work/sevenzip.zip" >"$out/sevenzip.payload"
image sevenzip sevenzip v1.0.0

# The demo suite packed with LZMA entries (method 14), as pack --method lzma writes them.
archive lzma "$suite" --method lzma
if ! "$sevenzip" l -slt "$out/lzma.payload" | grep -q '^Method = LZMA'; then
  echo "make-images: pack --method lzma wrote no LZMA entry; the case would prove nothing" >&2
  exit 1
fi
image lzma lzma v1.0.0

# The demo suite with a folder and a file named in Cyrillic: pack stores the names as UTF-8.
mkdir -p "$work/named/Документы"
cp -r "$suite"/. "$work/named/"
printf 'Лицензия Torvane\n' >"$work/named/Документы/Лицензия.txt"
archive named "$work/named"
image named named v1.0.0

# The demo suite and 64 MiB of generated text in 256 files: the archive takes several ticks to
# unpack, and says how far it has got.
mkdir -p "$work/large-suite/Data"
cp -r "$suite"/. "$work/large-suite/"
perl -e '
  my $folder = shift;
  for my $file (0 .. 255) {
    open(my $fh, ">", sprintf("%s/part%03d.txt", $folder, $file)) or die "$folder: $!";
    my ($text, $line) = ("", 0);
    $text .= sprintf("Torvane data, part %d, line %d, value %d\r\n", $file, $line++, ($file * 7919 + $line * 104729) % 1000003)
      while length($text) < 256 * 1024;
    print $fh substr($text, 0, 256 * 1024);
    close($fh);
  }
' "$work/large-suite/Data"
archive large-suite "$work/large-suite"
image large-suite large-suite v1.0.0

# The next version of the suite: Dromlet and Drivers/Readme.txt dropped, Torvane.txt changed, a
# new file; one with a damaged entry (its bytes flipped); and an older version of the first.
mkdir -p "$work/v2"
cp -r "$suite"/. "$work/v2/"
rm "$work/v2/Dromlet.exe" "$work/v2/Dromlet.txt" "$work/v2/dromlet.flg" "$work/v2/Drivers/Readme.txt"
printf 'Torvane 2.1.0\r\n' >"$work/v2/Torvane.txt"
printf 'What is new in 2.1.0\r\n' >"$work/v2/News.txt"
archive v2 "$work/v2"
# Stamped as a vendor stamps a release: the label v2.1.0 comes from the version.
"$pack" image --program "$setup" --payload "$out/v2.payload" --version 2.1.0 \
  --publisher "Torvane Software" --out "$out/v2.exe" >/dev/null
image older full v0.9.0

# An archive that never writes the completion flag.
archive no-completion-flag "$suite" --no-completion-flag
image no-completion-flag no-completion-flag v1.0.0

# A payload that writes its flags and keeps running.
cp "$lingering" "$out/lingering.payload"
hand_image lingering "$out/lingering.payload" v1.0.0 "$(size "$out/lingering.payload")"

# Payloads that publish their progress: one that gets on for 25 s and completes, one that stops
# getting on after 2 s.
cp "$slow" "$out/slow.payload"
hand_image slow "$out/slow.payload" v1.0.0 "$(size "$out/slow.payload")"
cp "$stalled" "$out/stalled.payload"
hand_image stalled "$out/stalled.payload" v1.0.0 "$(size "$out/stalled.payload")"

# --- Bad input (bad_input_tests) ----------------------------------------------------------------

# zip_edit PAYLOAD ENTRY WHAT [VALUE]: edits ENTRY's local and central headers in place, as a
# hand-made or damaged archive would hold them. WHAT: crc (a wrong CRC-32), sizes VALUE (both
# declared sizes), rename NEW_NAME (a name of the same length).
zip_edit() {
  perl -e '
    my ($path, $entry, $what, $value) = @ARGV;
    open(my $fh, "+<:raw", $path) or die "open $path: $!";
    local $/; my $data = <$fh>;
    my $edited = 0;
    # signature, then where the name length, the name, the CRC-32 and the two sizes lie
    for my $header (["PK\x03\x04", 26, 30, 14, 18, 22], ["PK\x01\x02", 28, 46, 16, 20, 24]) {
      my ($signature, $nameLengthAt, $nameAt, $crcAt, $packedAt, $sizeAt) = @$header;
      my $at = -1;
      while (($at = index($data, $signature, $at + 1)) >= 0) {
        my $nameLength = unpack("v", substr($data, $at + $nameLengthAt, 2));
        next unless substr($data, $at + $nameAt, $nameLength) eq $entry;
        if ($what eq "crc") {
          substr($data, $at + $crcAt, 4) = pack("V", unpack("V", substr($data, $at + $crcAt, 4)) ^ 0x5A5A5A5A);
        } elsif ($what eq "sizes") {
          substr($data, $at + $packedAt, 4) = pack("V", $value);
          substr($data, $at + $sizeAt, 4) = pack("V", $value);
        } elsif ($what eq "rename") {
          die "rename: $value is not as long as $entry\n" unless length($value) == $nameLength;
          substr($data, $at + $nameAt, $nameLength) = $value;
        } else {
          die "zip_edit: unknown edit $what\n";
        }
        $edited++;
      }
    }
    die "zip_edit: $entry found $edited times in $path, not once in each directory\n" unless $edited == 2;
    seek($fh, 0, 0); print $fh $data; close($fh);
  ' "$@"
}

# A length field that does not fit: all bits set (-1 when read signed). And the program image
# alone, with no payload and no trailer behind it.
hand_image bad-length-all-ones "$out/full.payload" 'v1.0.0' 4294967295
cp "$setup" "$out/bare-program.exe"

# Damaged archives. Entries are unpacked in name order; Torvane.txt comes after the three
# programs and before the flag files.
cp "$out/full.payload" "$out/crc-mismatch.payload"
zip_edit "$out/crc-mismatch.payload" Torvane.txt crc
image crc-mismatch crc-mismatch v1.0.0
# The next version with one damaged entry, for a failed upgrade.
cp "$out/v2.payload" "$out/v2-damaged.payload"
zip_edit "$out/v2-damaged.payload" Torvane.txt crc
image v2-damaged v2-damaged v2.1.0

# Cut in the middle of the archive, behind the stub: the entries' data stays, the directory goes.
head -c $(( ($(size "$sfx") + $(size "$out/full.payload")) / 2 )) "$out/full.payload" \
  >"$out/truncated.payload"
hand_image truncated "$out/truncated.payload" v1.0.0 "$(size "$out/truncated.payload")"

# Torvane.txt claims almost 2 GiB of data, far more than the archive holds.
cp "$out/full.payload" "$out/lying-size.payload"
zip_edit "$out/lying-size.payload" Torvane.txt sizes 2147483632
image lying-size lying-size v1.0.0

# The suite and one entry that climbs out of the install folder.
mkdir -p "$work/unsafe/QQ"
cp -r "$suite"/. "$work/unsafe/"
echo "written outside the install folder" >"$work/unsafe/QQ/evil.txt"
archive unsafe-name "$work/unsafe"
zip_edit "$out/unsafe-name.payload" QQ/evil.txt rename ../evil.txt
image unsafe-name unsafe-name v1.0.0

# The suite and the same name twice, with different contents; pack cannot make this itself.
mkdir -p "$work/duplicates"
cp -r "$suite"/. "$work/duplicates/"
printf 'first version\r\n' >"$work/duplicates/dup-a.txt"
printf 'second version\r\n' >"$work/duplicates/dup-b.txt"
archive duplicate-names "$work/duplicates"
zip_edit "$out/duplicate-names.payload" dup-b.txt rename dup-a.txt
image duplicate-names duplicate-names v1.0.0

# A payload big enough that its copy takes a second or more: the demo archive, then 1 GiB of
# zeros, left as a hole in the image so that it takes no disk space (the copy, cut short by
# Escape, takes what it wrote).
cat "$setup" "$out/full.payload" >"$out/big-payload.exe"
truncate -s +1G "$out/big-payload.exe"
perl -e 'binmode STDOUT; print pack("a16 V", "v1.0.0", $ARGV[0])' \
  $(( $(size "$out/full.payload") + (1 << 30) )) >>"$out/big-payload.exe"

rm -rf "$work"
echo "make-images: $(ls "$out"/*.exe | wc -l) images in $out"
