#!/usr/bin/env bash
# avrboard names the version it finds in a firmware image's flash when it
# loads the image, and says so when an image carries none.
#   avrboard_version.sh AVRBOARD ELF VERSION
set -euo pipefail
avrboard=$1 elf=$2 version=$3
if [ ! -x "$avrboard" ] || [ ! -f "$elf" ]; then
  echo "skipped: needs $avrboard and $elf (firmware/build.sh)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the image for a moment and keeps what avrboard said.
first_words() {
  timeout -s INT 3 "$avrboard" --firmware "$1" --pty "$work/tty" 2>&1 >/dev/null |
    tr -d '\r' | grep -a '^avrboard: firmware' || true
}

said=$(first_words "$elf")
[ "$said" = "avrboard: firmware version $version" ] ||
  { echo "FAIL: avrboard said '$said', expected version $version" >&2; exit 1; }

# The same image with its mark overwritten, byte for byte in place, carries
# no version.
perl -0777 -pe 's/\@\(#\)arduino-block firmware /\@(#)arduino-block hardware /' "$elf" \
  >"$work/unmarked.elf"
cmp -s "$elf" "$work/unmarked.elf" && { echo "FAIL: $elf has no version mark to overwrite" >&2; exit 1; }
said=$(first_words "$work/unmarked.elf")
[ "$said" = "avrboard: firmware without a version" ] ||
  { echo "FAIL: for an image without a mark avrboard said '$said'" >&2; exit 1; }
echo "ok"
