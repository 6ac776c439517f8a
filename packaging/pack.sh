#!/usr/bin/env bash
# Packs built files into the two archives a user downloads, and SHA256SUMS:
#
#   packaging/pack.sh --version V --native DIR --win32 DIR --firmware DIR --out DIR
#
#   arduino-block-V-windows-x86.zip     ArduinoBlock.dll, blockhost.exe, the
#                                       firmware images (one per serial speed
#                                       and the Ethernet one) and sketch, README.txt,
#                                       the notices of the linked-in runtimes
#   arduino-block-V-linux-x86_64.tar.gz arduino_block.so, blockhost, boardsim,
#                                       avrboard and the boards' bootloaders
#                                       it runs, the firmware, README.txt,
#                                       README.md, docs/
#
# ./run dist calls it on a fresh release build; tests/dist calls it on the
# test builds.  The archives depend only on the files packed and on
# SOURCE_DATE_EPOCH (default: the time of the last commit): every entry
# carries that time, fixed owners and modes, in sorted order.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

die() {
  echo "pack.sh: $*" >&2
  exit 1
}

version="" native="" win32="" firmware="" out=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || die "$1 needs a value"
  case "$1" in
    --version) version=$2 ;;
    --native) native=$2 ;;
    --win32) win32=$2 ;;
    --firmware) firmware=$2 ;;
    --out) out=$2 ;;
    *) die "unknown option $1" ;;
  esac
  shift 2
done
[ -n "$version" ] && [ -n "$native" ] && [ -n "$win32" ] && [ -n "$firmware" ] && [ -n "$out" ] ||
  die "usage: pack.sh --version V --native DIR --win32 DIR --firmware DIR --out DIR"
[[ $version =~ ^[0-9A-Za-z.-]+$ ]] || die "version '$version' has characters unfit for a file name"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    die "set SOURCE_DATE_EPOCH: there is no git history to take it from"
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH '$SOURCE_DATE_EPOCH' is no number of seconds"
export SOURCE_DATE_EPOCH

# The notices the statically linked runtimes ask for, as Debian ships them.
gcc_notice=/usr/share/doc/gcc-mingw-w64-base/copyright
mingw_notice=/usr/share/doc/mingw-w64-i686-dev/copyright

need() {
  local file
  for file in "$@"; do
    [ -f "$file" ] || die "missing $file"
  done
}
# The serial speeds the block's dialog offers.  firmware/build.sh names the
# images as the archives do, <board>/arduino_block-<baud>.hex and
# <board>/arduino_block-ethernet.hex, so they are copied as they are.
serial_speeds=(9600 19200 38400 115200)
need "$native/arduino_block.so" "$native/blockhost" "$native/boardsim" "$native/avrboard" \
  "$win32/ArduinoBlock.dll" "$win32/blockhost.exe" \
  "$gcc_notice" "$mingw_notice" "$root/packaging/README-windows.txt" \
  "$root/packaging/README-linux.txt"
for board in uno mega2560; do
  for baud in "${serial_speeds[@]}"; do
    need "$firmware/$board/arduino_block-$baud.hex"
  done
done
# avrboard looks for the boards' bootloaders in bootloaders/ beside it, as
# the build lays them out, so the archive holds them there too.
bootloaders=(optiboot_atmega328.hex stk500boot_v2_mega2560.hex ATmegaBOOT_168_atmega328.hex)
for file in "${bootloaders[@]}"; do
  [ -f "$native/bootloaders/$file" ] ||
    die "missing $native/bootloaders/$file: the build makes it from Debian's arduino-core-avr (the Uno's with avr-gcc)"
done
# firmware/build.sh skips the Ethernet images, and says so, where it finds
# no Arduino Ethernet library; a release without them is not made.
for board in uno mega2560; do
  [ -f "$firmware/$board/arduino_block-ethernet.hex" ] ||
    die "missing $firmware/$board/arduino_block-ethernet.hex: firmware/build.sh needs the Arduino Ethernet library (ARDUINO_ETHERNET_LIBRARY) for it"
done
for tool in zip tar gzip sha256sum; do
  command -v "$tool" >/dev/null || die "$tool not found (apt-get install zip)"
done

windows=arduino-block-$version-windows-x86
linux=arduino-block-$version-linux-x86_64
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/arduino-block-pack.XXXXXX")
trap 'rm -rf "$stage"' EXIT

crlf() { sed 's/\r$//; s/$/\r/' "$1"; }

# The images, and the sketch with its version written in, so that a board
# flashed from the IDE says what it is too.  Each board's folder holds all
# of its images: arduino_block-<baud>.hex for USB at each of the dialog's
# speeds, arduino_block-ethernet.hex for the Ethernet shield.
stage_firmware() {
  local to=$1/firmware board suffix
  mkdir -p "$to/uno" "$to/mega2560" "$to/arduino_block/src"
  for board in uno mega2560; do
    for suffix in "${serial_speeds[@]}" ethernet; do
      cp "$firmware/$board/arduino_block-$suffix.hex" "$to/$board/"
    done
  done
  cp "$root/firmware/arduino_block/arduino_block.ino" "$to/arduino_block/"
  cp "$root"/firmware/arduino_block/src/*.h "$root"/firmware/arduino_block/src/*.cpp \
    "$to/arduino_block/src/"
  local header=$to/arduino_block/src/firmware_version.h
  sed -i "s|^#define ARDUINO_BLOCK_VERSION \".*\"\$|#define ARDUINO_BLOCK_VERSION \"$version\"|" "$header"
  grep -q "^#define ARDUINO_BLOCK_VERSION \"$version\"\$" "$header" ||
    die "cannot write the version into the sketch's firmware_version.h"
}

mkdir -p "$stage/$windows/notices"
cp "$win32/ArduinoBlock.dll" "$win32/blockhost.exe" "$stage/$windows/"
stage_firmware "$stage/$windows"
sed "s|@VERSION@|$version|g" "$root/packaging/README-windows.txt" >"$stage/readme"
crlf "$stage/readme" >"$stage/$windows/README.txt"
crlf "$gcc_notice" >"$stage/$windows/notices/gcc-runtime-libraries.txt"
crlf "$mingw_notice" >"$stage/$windows/notices/mingw-w64-runtime.txt"

mkdir -p "$stage/$linux/bootloaders"
cp "$native/arduino_block.so" "$native/blockhost" "$native/boardsim" "$native/avrboard" "$stage/$linux/"
cp "${bootloaders[@]/#/$native/bootloaders/}" "$stage/$linux/bootloaders/"
# They are others' work under their own licences: say whose, and where their
# sources are.
cp "$root/packaging/bootloaders-notice.txt" "$stage/$linux/bootloaders/README.txt"
stage_firmware "$stage/$linux"
# README.txt walks through what the archive holds, as the zip's does; the
# tree's README.md and docs/ come as the reference.
sed "s|@VERSION@|$version|g" "$root/packaging/README-linux.txt" >"$stage/$linux/README.txt"
cp "$root/README.md" "$stage/$linux/"
# Only the files the commit holds: a bench's results or a scratch file left
# in docs/ must not change what ships.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z -- docs | xargs -0 cp --parents -t "$stage/$linux")
else
  cp -r "$root/docs" "$stage/$linux/docs"
fi

# Modes and times as the archive should carry them, whatever the umask and
# the build's clock said.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/$windows/ArduinoBlock.dll" "$stage/$windows/blockhost.exe"
chmod 0755 "$stage/$linux"/{arduino_block.so,blockhost,boardsim,avrboard}
rm -f "$stage/readme"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

rm -f "$out/$windows.zip" "$out/$linux.tar.gz" "$out/SHA256SUMS"
# zip stores local time: UTC makes it the same everywhere.  -X leaves out
# the extra fields with owners and further time stamps.
(cd "$stage" && find "$windows" -type f -print | LC_ALL=C sort |
  TZ=UTC zip -X -D -q -9 -@ "$out/$windows.zip")
(cd "$stage" && LC_ALL=C tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
  --numeric-owner --format=gnu -cf - "$linux" | gzip -9 -n >"$out/$linux.tar.gz")
(cd "$out" && sha256sum "$windows.zip" "$linux.tar.gz" >SHA256SUMS)
echo "$out/$windows.zip"
echo "$out/$linux.tar.gz"
echo "$out/SHA256SUMS"
