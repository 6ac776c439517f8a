#!/usr/bin/env bash
# The firmware images come out byte for byte the same whichever folder the
# tree lies in and whichever folder they are built into, and name neither.
# It takes seconds where a rebuild of the archives takes minutes, yet the
# images are built the way ./run dist builds them, so a path or anything
# else of the build that creeps into them shows here first.
#
#   tests/dist/firmware_rebuilds.sh
#
# One build runs from the tree into a folder under build/, as ./run dist
# builds; the other from a copy of the firmware's sources outside the tree
# into a folder of another name and depth, against a copy of the Arduino
# Ethernet library in another folder too.  Both carry the tree's version.
# Without the library the serial images alone are compared, and it says so.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/arduino-block-rebuild.XXXXXX")
inside=$root/build/firmware-rebuild-check
cleanup() { rm -rf "$work" "$inside"; }
trap cleanup EXIT
case "$work" in "$root"/*) fail "the scratch folder $work lies inside the tree; set TMPDIR" ;; esac

# The copy has no git history, so the version is pinned for both builds.
ARDUINO_BLOCK_DIST_VERSION=$("$root/cmake/version.sh")
export ARDUINO_BLOCK_DIST_VERSION

copy=$work/another/tree
mkdir -p "$copy/cmake"
cp -r "$root/firmware" "$copy/"
cp "$root/cmake/version.sh" "$copy/cmake/"
cp "$root/VERSION" "$copy/"

# Every serial speed: the speed is a define, and a build that lost it
# would give four copies of one image, which the comparison below would not
# notice, hence the check that they differ.
images=(uno uno-19200 uno-38400 uno-115200 mega2560 mega2560-19200 mega2560-38400 mega2560-115200)
library=$("$root/firmware/build.sh" --ethernet-library || true)
library_copy=""
if [ -n "$library" ]; then
  images+=(uno-ethernet mega2560-ethernet)
  library_copy=$work/libraries/elsewhere/Ethernet
  mkdir -p "$library_copy"
  cp -r "$library"/. "$library_copy"
fi

rm -rf "$inside"
# An image under the name earlier builds gave it must not outlive the build.
mkdir -p "$inside/one/uno"
touch "$inside/one/uno/arduino_block."{elf,hex}
ARDUINO_ETHERNET_LIBRARY=$library ARDUINO_BLOCK_FIRMWARE_OUT=$inside/one \
  "$root/firmware/build.sh" "${images[@]}" >/dev/null || fail "firmware/build.sh failed in the tree"
ARDUINO_ETHERNET_LIBRARY=$library_copy ARDUINO_BLOCK_FIRMWARE_OUT=$work/out/of/the/way \
  "$copy/firmware/build.sh" "${images[@]}" >/dev/null || fail "firmware/build.sh failed in $copy"

for stale in "$inside/one/uno/arduino_block."{elf,hex}; do
  [ ! -e "$stale" ] || fail "the build left $stale of an earlier one"
done
# The images are compared under the names the archives give them.
suffixes=(9600 19200 38400 115200)
[ -z "$library" ] || suffixes+=(ethernet)
status=0
for board in uno mega2560; do
  for suffix in "${suffixes[@]}"; do
    for image in "$board/arduino_block-$suffix.elf" "$board/arduino_block-$suffix.hex"; do
      [ -f "$inside/one/$image" ] || fail "the build in the tree made no $image"
      if ! cmp -s "$inside/one/$image" "$work/out/of/the/way/$image"; then
        echo "FAIL: $image differs between two builds in different folders" >&2
        status=1
      fi
    done
  done
done
for board in uno mega2560; do
  for baud in 19200 38400 115200; do
    ! cmp -s "$inside/one/$board/arduino_block-9600.hex" "$inside/one/$board/arduino_block-$baud.hex" ||
      fail "the $board image for $baud baud is the 9600 one"
  done
done
# Without any Ethernet library a build of everything leaves the Ethernet
# images out with a line saying so, while an Ethernet image asked for by
# name is an error that says what is missing.
no_library=(env ARDUINO_ETHERNET_LIBRARY="" HOME=$work/no-home ARDUINO_BLOCK_FIRMWARE_OUT=$work/none)
skip_out=$(cd "$work" && "${no_library[@]}" "$copy/firmware/build.sh" --list 2>&1) ||
  fail "firmware/build.sh --list without a library failed: $skip_out"
[[ $skip_out == *"skip uno-ethernet mega2560-ethernet: no Arduino Ethernet library"* ]] ||
  fail "firmware/build.sh did not say it leaves the Ethernet images out: $skip_out"
if asked_out=$(cd "$work" && "${no_library[@]}" "$copy/firmware/build.sh" uno mega2560-ethernet 2>&1); then
  fail "firmware/build.sh mega2560-ethernet without a library succeeded: $asked_out"
fi
[[ $asked_out == *"cannot build mega2560-ethernet: no Arduino Ethernet library found; set ARDUINO_ETHERNET_LIBRARY"* ]] ||
  fail "firmware/build.sh mega2560-ethernet without a library did not say why it failed: $asked_out"
[ ! -e "$work/none" ] || fail "firmware/build.sh built something before refusing mega2560-ethernet"
# An image for a speed the dialog does not offer is refused.
if "$copy/firmware/build.sh" uno-57600 >/dev/null 2>&1; then fail "firmware/build.sh built uno-57600"; fi
# The ELF holds all the hex does and the debugging information besides.
"$here/no_build_paths.sh" "$inside $work ${library}" "$inside"/one/*/arduino_block-*.elf \
  "$work"/out/of/the/way/*/arduino_block-*.elf || status=1
[ $status -eq 0 ] || exit 1
echo "ok: the firmware images (${images[*]}) rebuild byte for byte from another folder"
[ -n "$library" ] || echo "note: no Arduino Ethernet library, so the Ethernet images were not built" \
  "(firmware/build.sh says where it looks)"
