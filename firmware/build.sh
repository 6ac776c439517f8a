#!/usr/bin/env bash
# Builds the sketch for the Uno and the Mega 2560 with Debian's avr-gcc
# against Debian's Arduino core, prints flash and RAM use and fails when an
# image does not fit its board.  The images are named as the release
# archives name them, one folder per board:
#
#   build/firmware/<board>/arduino_block-<baud>.{elf,hex}     USB
#   build/firmware/<board>/arduino_block-ethernet.{elf,hex}   Ethernet shield
#
#   firmware/build.sh [IMAGE...]           (all ten when none is named)
#   firmware/build.sh --list [IMAGE...]    prints the path of each .hex the
#                                            same build would write, and
#                                            builds nothing
#   firmware/build.sh --ethernet-library     prints the library's folder, or
#                                            fails when there is none
#
# An IMAGE is uno or mega2560 (USB at 9600 baud, also uno-9600), the same
# with -19200, -38400 or -115200 for the other speeds the block's dialog
# offers (the sketch's ARDUINO_BLOCK_SERIAL_BAUD, set with -D), or with
# -ethernet for the UDP variant for a W5100 shield, built against the
# Arduino Ethernet library as the IDE builds it.  The library is not ours
# and does not ship with the tree: it is found through
# ARDUINO_ETHERNET_LIBRARY, else in ../shared/third_party/Ethernet-2.0.2
# beside the tree, else in ~/Arduino/libraries/Ethernet (where the IDE's
# Library Manager puts it).  Without it a build of all images skips the two
# Ethernet ones with one line saying so and builds the eight others; an
# Ethernet image named on the command line is an error instead, since what
# was asked for cannot be had.
#
# Plain avr-g++ rather than arduino-mk: the sketch keeps its protocol core in
# src/, which the IDE compiles but arduino-mk does not, and a dozen lines of
# shell are easier to follow than the makefile's variables.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SKETCH_DIR=$ROOT/firmware/arduino_block
AVR_HW=/usr/share/arduino/hardware/arduino/avr
CORE_DIR=$AVR_HW/cores/arduino
# SPI, which the Ethernet library talks to the shield through, and EEPROM,
# which holds the Ethernet image's address, come with the core.
CORE_LIBRARIES=$AVR_HW/libraries

for tool in avr-gcc avr-g++ avr-gcc-ar avr-objcopy avr-size; do
  command -v "$tool" >/dev/null || { echo "firmware/build.sh: $tool not found (apt-get install gcc-avr avr-libc)" >&2; exit 1; }
done
[ -d "$CORE_DIR" ] || { echo "firmware/build.sh: no Arduino core at $CORE_DIR (apt-get install arduino-core-avr)" >&2; exit 1; }

# Debian's avr-gcc 5 lacks DECIMAL_DIG, which the core's Print.cpp needs.
COMMON="-Os -g -ffunction-sections -fdata-sections -DF_CPU=16000000L -DARDUINO=10819 -DARDUINO_ARCH_AVR"
# The version goes into flash (src/firmware_version.h).  The source paths in
# the ELF's debugging information are relative, so not even the ELF depends
# on where the tree lies (avr-gcc 5 knows no -ffile-prefix-map).
VERSION=$("$ROOT/cmake/version.sh")
COMMON="$COMMON -fdebug-prefix-map=$ROOT/= -fdebug-prefix-map=$CORE_DIR/=arduino-core/"
COMMON="$COMMON -fdebug-prefix-map=$CORE_LIBRARIES/=arduino-libraries/"
OWN_DEFINES="-DARDUINO_BLOCK_VERSION=\"$VERSION\""
CXXFLAGS="-std=gnu++11 -fno-exceptions -fno-threadsafe-statics -fno-rtti -DDECIMAL_DIG=17"
CFLAGS="-std=gnu11"
# Our own code is held to the same standard as on the PC; the core is not ours.
OWN_WARNINGS="-Wall -Wextra -Werror"

# The Ethernet library's folder, or empty when there is none.  A clone of
# the tree anywhere finds the shared copy beside it.
find_ethernet_library() {
  local candidate
  for candidate in "${ARDUINO_ETHERNET_LIBRARY:-}" "$ROOT/../shared/third_party/Ethernet-2.0.2" \
    "${HOME:-}/Arduino/libraries/Ethernet"; do
    if [ -n "$candidate" ] && [ -f "$candidate/src/Ethernet.h" ]; then
      (cd "$candidate" && pwd)
      return
    fi
    # A library named outright and not there is not replaced by another.
    [ -n "${ARDUINO_ETHERNET_LIBRARY:-}" ] && return 0
  done
  # None found is no failure: the caller skips the Ethernet images.
  return 0
}

# The serial speeds an image is built for; the first is the plain uno and
# mega2560 image's.
SERIAL_SPEEDS=(9600 19200 38400 115200)

# parse_image IMAGE: sets board, link (serial or ethernet) and suffix (the
# speed, or "ethernet": what follows arduino_block- in the file's name), or
# says what is wrong and fails.
parse_image() {
  local image=$1 baud=${SERIAL_SPEEDS[0]}
  case "$image" in
    *-ethernet) board=${image%-ethernet} link=ethernet ;;
    *-[0-9]*) board=${image%-*} link=serial baud=${image##*-} ;;
    *) board=$image link=serial ;;
  esac
  if [ "$link" = serial ] && [[ " ${SERIAL_SPEEDS[*]} " != *" $baud "* ]]; then
    echo "firmware/build.sh: unknown image '$image' (the serial speeds are ${SERIAL_SPEEDS[*]})" >&2
    return 1
  fi
  case "$board" in
    uno | mega2560) ;;
    *)
      echo "firmware/build.sh: unknown image '$image' (uno, mega2560, uno-115200, uno-ethernet, ...)" >&2
      return 1
      ;;
  esac
  suffix=$baud
  [ "$link" = ethernet ] && suffix=ethernet
  return 0
}

# The .hex an image's build writes, relative to the tree when it lies in it.
hex_path() {
  local path=$OUT_ROOT/$board/arduino_block-$suffix.hex
  echo "${path#"$ROOT"/}"
}

# build_image IMAGE
build_image() {
  local image=$1 board link suffix mcu variant define max_flash max_ram
  parse_image "$image"
  case "$board" in
    uno) mcu=atmega328p variant=standard define=ARDUINO_AVR_UNO max_flash=32256 max_ram=2048 ;;
    mega2560) mcu=atmega2560 variant=mega define=ARDUINO_AVR_MEGA2560 max_flash=253952 max_ram=8192 ;;
  esac
  # The images of a board lie side by side, as in the release archives;
  # what they are made of lies below them, one folder per image.
  local out=$OUT_ROOT/$board name=arduino_block-$suffix
  local objects_dir=$out/objects/$suffix
  # The core does not depend on the speed: the USB images of a board share
  # one, the Ethernet image has its own with the library in it.
  local core_out=$out/objects/core-$link
  local flags="-mmcu=$mcu $COMMON -D$define -I$CORE_DIR -I$AVR_HW/variants/$variant"
  local sketch_defines="$OWN_DEFINES"
  if [ "$link" = ethernet ]; then
    # The library's own folder leaves the debugging information like the
    # tree's does, so the image is the same wherever the library lies.
    flags="$flags -fdebug-prefix-map=$ETHERNET_LIBRARY/=arduino-ethernet/"
    flags="$flags -I$ETHERNET_LIBRARY/src -I$CORE_LIBRARIES/SPI/src -I$CORE_LIBRARIES/EEPROM/src"
    sketch_defines="$sketch_defines -DARDUINO_BLOCK_LINK_ETHERNET=1"
  else
    sketch_defines="$sketch_defines -DARDUINO_BLOCK_SERIAL_BAUD=$suffix"
  fi
  mkdir -p "$objects_dir" "$core_out"

  # The core never changes between builds, so it is compiled once per board.
  if [ ! -f "$core_out.a" ]; then
    local src obj sources=("$CORE_DIR"/*.c "$CORE_DIR"/*.cpp "$CORE_DIR"/*.S)
    # The IDE compiles every .cpp of a library the sketch includes; for the
    # Ethernet image those go into the archive beside the core.
    if [ "$link" = ethernet ]; then
      sources+=("$ETHERNET_LIBRARY"/src/*.cpp "$ETHERNET_LIBRARY"/src/utility/*.cpp
        "$CORE_LIBRARIES"/SPI/src/*.cpp)
    fi
    for src in "${sources[@]}"; do
      obj=$core_out/$(basename "$src").o
      case "$src" in
        *.c) avr-gcc -c -w $flags $CFLAGS "$src" -o "$obj" ;;
        *.cpp) avr-g++ -c -w $flags $CXXFLAGS "$src" -o "$obj" ;;
        *.S) avr-gcc -c -x assembler-with-cpp $flags "$src" -o "$obj" ;;
      esac
    done
    rm -f "$core_out.a.tmp"
    avr-gcc-ar rcs "$core_out.a.tmp" "$core_out"/*.o
    mv "$core_out.a.tmp" "$core_out.a"
  fi

  # What the IDE does to a sketch: Arduino.h first, then the .ino as C++.
  # The .ino is compiled where it lies, so its own directory comes first on
  # the include path and "src/..." resolves as it does in the IDE.  No file
  # is generated for it: the debugging information would name the generated
  # file by its path in the output folder, and the ELF would then depend on
  # where it was built.
  local objects=()
  avr-g++ -c $OWN_WARNINGS $sketch_defines $flags $CXXFLAGS -include Arduino.h -x c++ \
    "$SKETCH_DIR/arduino_block.ino" -o "$objects_dir/arduino_block.o"
  objects+=("$objects_dir/arduino_block.o")
  local src
  for src in "$SKETCH_DIR"/src/*.cpp; do
    avr-g++ -c $OWN_WARNINGS $sketch_defines $flags $CXXFLAGS "$src" -o "$objects_dir/$(basename "$src").o"
    objects+=("$objects_dir/$(basename "$src").o")
  done
  avr-gcc -mmcu=$mcu -Os -Wl,--gc-sections -o "$out/$name.elf" "${objects[@]}" "$core_out.a" -lm
  avr-objcopy -O ihex -R .eeprom "$out/$name.elf" "$out/$name.hex"

  # Flash holds code and the initial values of data; RAM holds data and bss
  # (the stack takes what is left).
  local text data bss
  read -r text data bss _ < <(avr-size --format=berkeley "$out/$name.elf" | tail -n 1)
  local flash=$((text + data)) ram=$((data + bss))
  printf '%-17s flash %6d of %6d bytes (%2d%%), RAM %5d of %5d bytes (%2d%%)  %s\n' \
    "$image" "$flash" "$max_flash" $((flash * 100 / max_flash)) "$ram" "$max_ram" $((ram * 100 / max_ram)) \
    "$(hex_path)"
  if [ "$flash" -gt "$max_flash" ] || [ "$ram" -gt "$max_ram" ]; then
    echo "firmware/build.sh: the $image image does not fit the $board" >&2
    return 1
  fi
}

# ARDUINO_BLOCK_FIRMWARE_OUT puts the images elsewhere (./run dist builds
# from scratch in a folder of its own).
OUT_ROOT=${ARDUINO_BLOCK_FIRMWARE_OUT:-$ROOT/build/firmware}

ETHERNET_LIBRARY=$(find_ethernet_library)
if [ "${1:-}" = --ethernet-library ]; then
  [ -n "$ETHERNET_LIBRARY" ] || exit 1
  echo "$ETHERNET_LIBRARY"
  exit 0
fi
list_only=false
if [ "${1:-}" = --list ]; then
  list_only=true
  shift
fi
if [ -n "${ARDUINO_ETHERNET_LIBRARY:-}" ]; then
  no_library="ARDUINO_ETHERNET_LIBRARY=$ARDUINO_ETHERNET_LIBRARY holds no src/Ethernet.h"
else
  no_library="no Arduino Ethernet library found; set ARDUINO_ETHERNET_LIBRARY to its folder"
fi

images=("$@")
skipped=()
if [ ${#images[@]} -eq 0 ]; then
  for board in uno mega2560; do
    images+=("$board")
    for baud in "${SERIAL_SPEEDS[@]:1}"; do images+=("$board-$baud"); done
  done
  if [ -n "$ETHERNET_LIBRARY" ]; then
    images+=(uno-ethernet mega2560-ethernet)
  else
    skipped=(uno-ethernet mega2560-ethernet)
  fi
fi
# Every name is checked before anything is built, so a typo at the end of
# the line does not cost a build of the rest first.
for image in "${images[@]}"; do
  parse_image "$image" || exit 1
  if [ "$link" = ethernet ] && [ -z "$ETHERNET_LIBRARY" ]; then
    echo "firmware/build.sh: cannot build $image: $no_library" >&2
    exit 1
  fi
done
if $list_only; then
  for image in "${images[@]}"; do
    parse_image "$image"
    hex_path
  done
  # The list stays a list of paths; the note goes beside it.
  [ ${#skipped[@]} -eq 0 ] || echo "firmware/build.sh: would skip ${skipped[*]}: $no_library" >&2
  exit 0
fi
# Earlier builds wrote each image into a folder of its own, the 9600 one
# into <board>/ with no speed in its name; left beside the new names, such a
# file would be flashed or run by mistake.
for board in uno mega2560; do
  rm -rf "$OUT_ROOT/$board"/{arduino_block.{elf,hex},core,core.a,sketch} \
    "$OUT_ROOT/$board"-{19200,38400,115200,ethernet}
done
for image in "${images[@]}"; do build_image "$image"; done
out_folder=${OUT_ROOT#"$ROOT"/}
echo "firmware/build.sh: built ${#images[@]} image(s) into $out_folder"
[ ${#skipped[@]} -eq 0 ] || echo "firmware/build.sh: skipped ${skipped[*]}: $no_library"
