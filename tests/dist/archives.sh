#!/usr/bin/env bash
# Checks the archives of packaging/pack.sh as a user meets them.
#
#   archives.sh CASE DIR VERSION
#
# DIR holds arduino-block-VERSION-windows-x86.zip, ...-linux-x86_64.tar.gz
# and SHA256SUMS.  CASEs:
#   pack         makes them with packaging/pack.sh from the builds named by
#                NATIVE_DIR, WIN32_DIR and FIRMWARE_DIR (exit 77 when one of
#                them lacks a file: nothing to pack)
#   contents     each archive holds exactly the files a user is promised,
#                the texts say the version, SHA256SUMS matches
#   linux-run    the tarball, unpacked into an empty folder outside the
#                tree, runs blockhost against its own boardsim over UDP, and
#                its blockhost flashes its images with avrdude through the
#                bootloaders its avrboard starts each board in
#   windows-run  the zip's blockhost.exe drives its ArduinoBlock.dll under
#                Wine against the tarball's boardsim (exit 77: no Wine here)
#   no-build-paths  no unpacked file names the tree or one of the build
#                folders that BUILD_FOLDERS lists (separated by spaces)
# DLL_VERSION_TEST, when set, is the dll_version_test program: the contents
# case runs it on the zip's DLL.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
case_name=$1 dir=$2 version=$3
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
windows=arduino-block-$version-windows-x86
linux=arduino-block-$version-linux-x86_64
zip_file=$dir/$windows.zip
tar_file=$dir/$linux.tar.gz

# shellcheck source=tests/script_helpers.sh
source "$root/tests/script_helpers.sh"

scratch_folder arduino-block-archives
case "$work" in "$root"/*) fail "the scratch folder $work lies inside the tree; set TMPDIR" ;; esac

unpack_linux() {
  tar -xzf "$tar_file" -C "$work"
  [ -d "$work/$linux" ] || fail "the tarball does not unpack into $linux/"
}
unpack_windows() {
  (cd "$work" && unzip -q "$zip_file")
  [ -d "$work/$windows" ] || fail "the zip does not unpack into $windows/"
}

# The files a user is promised, beside the firmware of both archives.
firmware_files="firmware/arduino_block/arduino_block.ino
firmware/arduino_block/src/board_pins.h
firmware/arduino_block/src/board_protocol.cpp
firmware/arduino_block/src/board_protocol.h
firmware/arduino_block/src/firmware_version.h
firmware/arduino_block/src/flash_text.h
firmware/arduino_block/src/network_settings.cpp
firmware/arduino_block/src/network_settings.h
firmware/arduino_block/src/serial_framer.cpp
firmware/arduino_block/src/serial_framer.h
firmware/arduino_block/src/setup_console.cpp
firmware/arduino_block/src/setup_console.h
firmware/mega2560/arduino_block-115200.hex
firmware/mega2560/arduino_block-19200.hex
firmware/mega2560/arduino_block-38400.hex
firmware/mega2560/arduino_block-9600.hex
firmware/mega2560/arduino_block-ethernet.hex
firmware/uno/arduino_block-115200.hex
firmware/uno/arduino_block-19200.hex
firmware/uno/arduino_block-38400.hex
firmware/uno/arduino_block-9600.hex
firmware/uno/arduino_block-ethernet.hex"

expect_listing() {
  local what=$1 expected=$2 actual=$3
  if ! diff -u <(LC_ALL=C sort <<<"$expected") <(LC_ALL=C sort <<<"$actual") >"$work/diff"; then
    cat "$work/diff" >&2
    fail "$what does not hold exactly the promised files (- promised, + found)"
  fi
}

# The version text as it lies in a flash image, found in the Intel HEX
# records' data bytes run together.
hex_holds_version() {
  local data wanted
  data=$(sed -n 's/\r$//; /^:......00/{s/^:........//; s/..$//; p}' "$1" | tr -d '\n')
  wanted=$(printf '@(#)arduino-block firmware %s' "$version" | od -An -tx1 | tr -d ' \n' |
    tr 'a-f' 'A-F')
  [[ $data == *"$wanted"* ]]
}

check_firmware() {
  local base=$1 image
  for image in {uno,mega2560}/arduino_block-{9600,19200,38400,115200,ethernet}.hex; do
    hex_holds_version "$base/firmware/$image" ||
      fail "$base/firmware/$image does not carry version $version in flash"
  done
  # The Ethernet image's start line is in its flash, the serial image's not:
  # the two were not swapped in packing.
  local start_line
  start_line=$(printf 'arduino-block ethernet ' | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F')
  for image in {uno,mega2560}/arduino_block-{9600,19200,38400,115200,ethernet}.hex; do
    local data
    data=$(sed -n 's/\r$//; /^:......00/{s/^:........//; s/..$//; p}' "$base/firmware/$image" | tr -d '\n')
    case "$image" in
      *-ethernet.hex) [[ $data == *"$start_line"* ]] || fail "$image is not the Ethernet image" ;;
      *) [[ $data != *"$start_line"* ]] || fail "$image is the Ethernet image, not the serial one" ;;
    esac
  done
  # Each speed's image is its own build, not another's copied under its
  # name: the images of one board all differ, and each is the one built for
  # its speed.
  local board baud
  for board in uno mega2560; do
    [ "$(sha256sum "$base"/firmware/$board/arduino_block-*.hex | cut -d' ' -f1 | sort -u | wc -l)" -eq 5 ] ||
      fail "two of the $board images in $base are the same"
    for baud in 9600 19200 38400 115200; do
      local built=${FIRMWARE_DIR:-}/$board/arduino_block-$baud.hex
      if [ -n "${FIRMWARE_DIR:-}" ] && [ -f "$built" ]; then
        cmp -s <(sed 's/\r$//' "$base/firmware/$board/arduino_block-$baud.hex") <(sed 's/\r$//' "$built") ||
          fail "$board/arduino_block-$baud.hex is not the image built for $baud baud"
      fi
    done
  done
  grep -q "^#define ARDUINO_BLOCK_VERSION \"$version\"" \
    "$base/firmware/arduino_block/src/firmware_version.h" ||
    fail "the sketch's firmware_version.h does not carry version $version"
  cmp -s "$base/firmware/arduino_block/arduino_block.ino" "$root/firmware/arduino_block/arduino_block.ino" ||
    fail "the packed sketch differs from firmware/arduino_block/arduino_block.ino"
}

# The tarball's README.txt speaks of the unpacked folder: every program it
# runs as ./NAME and every image it names is in the folder, and it names no
# folder of the source tree's build.
check_linux_readme() {
  local base=$1 readme=$1/README.txt named
  [ -f "$readme" ] || fail "the tarball has no README.txt"
  grep -q "Arduino block $version" "$readme" || fail "the tarball's README.txt does not name version $version"
  grep -q 'arduino_block-ethernet\.hex' "$readme" || fail "the tarball's README.txt does not name the Ethernet image"
  ! grep -n 'build/\|\./run\b' "$readme" || fail "the tarball's README.txt names the source tree's build"
  for named in $(grep -o '\./[A-Za-z_][A-Za-z0-9_.]*' "$readme" | sort -u) \
    $(grep -o 'firmware/[A-Za-z0-9_/.-]*\.hex' "$readme" | sort -u); do
    [ -e "$base/${named#./}" ] || fail "the tarball's README.txt names $named, which the tarball lacks"
  done
  grep -q '^[[:space:]]*\./boardsim .*--wire' "$readme" ||
    fail "the tarball's README.txt runs boardsim without a --wire, so its example shows nothing"
}

case_contents() {
  [ -f "$zip_file" ] || fail "no $zip_file"
  [ -f "$tar_file" ] || fail "no $tar_file"
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the archives"
  [ "$(wc -l <"$dir/SHA256SUMS")" -eq 2 ] || fail "SHA256SUMS should list exactly the two archives"

  expect_listing "the zip" "$(sed "s|^|$windows/|" <<<"ArduinoBlock.dll
README.txt
blockhost.exe
notices/gcc-runtime-libraries.txt
notices/mingw-w64-runtime.txt
$firmware_files")" "$(unzip -Z1 "$zip_file" | grep -v '/$')"
  local docs
  docs=$(cd "$root" && find docs -type f)
  expect_listing "the tarball" "$(sed "s|^|$linux/|" <<<"arduino_block.so
blockhost
boardsim
avrboard
bootloaders/optiboot_atmega328.hex
bootloaders/stk500boot_v2_mega2560.hex
bootloaders/ATmegaBOOT_168_atmega328.hex
bootloaders/README.txt
README.txt
README.md
$docs
$firmware_files")" "$(tar -tzf "$tar_file" | grep -v '/$')"

  unpack_windows
  local w=$work/$windows
  # Notepad on older Windows shows a file with bare LFs as one long line.
  [ "$(grep -c $'\r$' "$w/README.txt")" -eq "$(wc -l <"$w/README.txt")" ] ||
    fail "README.txt has lines without CR LF"
  grep -q "Arduino block $version" "$w/README.txt" || fail "README.txt does not name version $version"
  for section in Installing Wiring Flashing "Setting up an Ethernet board" Troubleshooting; do
    grep -q "^$section" "$w/README.txt" || fail "README.txt has no section on $section"
  done
  # Both READMEs say which image goes with which link.
  grep -q 'arduino_block-ethernet\.hex' "$w/README.txt" || fail "README.txt does not name the Ethernet image"
  grep -q 'arduino_block-115200\.hex' "$w/README.txt" || fail "README.txt does not name the images by speed"
  grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$w/notices/gcc-runtime-libraries.txt" ||
    fail "the GCC runtime notice lacks the runtime library exception"
  grep -q "mingw-w64" "$w/notices/mingw-w64-runtime.txt" || fail "the MinGW-w64 notice is not MinGW-w64's"
  check_firmware "$w"
  if [ -n "${DLL_VERSION_TEST:-}" ]; then
    ARDUINO_BLOCK_DLL=$w/ArduinoBlock.dll "$DLL_VERSION_TEST" --gtest_filter='DllVersionTest.*' \
      --gtest_brief=1 || fail "the zip's ArduinoBlock.dll does not carry version $version"
  fi

  unpack_linux
  check_firmware "$work/$linux"
  cmp -s "$work/$linux/README.md" "$root/README.md" || fail "the tarball's README.md is not the tree's"
  grep -q 'arduino_block-ethernet\.hex' "$work/$linux/README.md" ||
    fail "the tarball's README.md does not name the Ethernet image"
  grep -q 'arduino_block-115200\.hex' "$work/$linux/README.md" ||
    fail "the tarball's README.md does not name the images by speed"
  check_linux_readme "$work/$linux"
}

# Starts the unpacked boardsim on a free loopback port, pins 6 and 7 wired
# to 2 and 3 and A0 held at 512; sets $board_port.
start_board() {
  "$work/$linux/boardsim" --udp 127.0.0.1:0 --wire 6=2 --wire 7=3 --analog A0=const:512 \
    2>"$work/boardsim.err" &
  board_pid=$!
  local _
  for _ in $(seq 100); do
    grep -q 'listening on' "$work/boardsim.err" && break
    sleep 0.1
  done
  board_port=$(sed -n 's/.*listening on udp 127.0.0.1:\([0-9]*\)$/\1/p' "$work/boardsim.err")
  [ -n "$board_port" ] || fail "boardsim did not start: $(cat "$work/boardsim.err")"
}

# blockhost's summary: pin 2 follows input 6 (5 V), pin 3 follows input 7
# (0 V), A0 reads 512.
check_outputs() {
  local summary=$1
  grep -Eq '^  out Pin2 +5$' "$summary" || fail "Pin2 is not 5: $(cat "$summary")"
  grep -Eq '^  out Pin3 +0$' "$summary" || fail "Pin3 is not 0: $(cat "$summary")"
  grep -Eq '^  out Analog Input A0 +512$' "$summary" || fail "A0 is not 512: $(cat "$summary")"
}

# Each board as it leaves the factory: the tarball's avrboard starts it in
# the bootloader beside it, with an empty flash, and the tarball's blockhost
# flashes the image beside it with Debian's avrdude, then checks that the
# board answers.  Run from a folder of its own, with nothing of the tree on
# PATH, so that every file comes from the unpacked archive.
flash_bootloaders() {
  local l=$1 board folder _
  command -v avrdude >/dev/null ||
    fail "avrdude not found (apt-get install avrdude): the archive's bootloaders cannot be flashed"
  mkdir -p "$work/flashing"
  # The Nano with the old bootloader takes the Uno's image, written through
  # its bootloader at 57600 baud.
  for board in uno mega2560 nano-old; do
    folder=$board
    [ $board != nano-old ] || folder=uno
    (cd "$work/flashing" && exec env -i PATH=/usr/bin:/bin HOME="$work" "$l/avrboard" --board $board \
      --bootloader --flash "$work/$board.flash" --pty "$work/tty-$board" --adc A0=512 \
      2>"$work/avrboard-$board.err") &
    local avrboard_pid=$!
    for _ in $(seq 300); do
      grep -q '^avrboard: ready' "$work/avrboard-$board.err" && break
      kill -0 $avrboard_pid 2>/dev/null || break
      sleep 0.1
    done
    grep -q '^avrboard: ready' "$work/avrboard-$board.err" ||
      fail "the tarball's avrboard did not start the $board in its bootloader: $(cat "$work/avrboard-$board.err")"
    local status=0
    (cd "$work/flashing" && env -i PATH=/usr/bin:/bin HOME="$work" ARDUINO_BLOCK_COM42="$work/tty-$board" \
      "$l/blockhost" flash --comport 42 --board $board --baud 115200 \
      >"$work/flash-$board.out" 2>"$work/flash-$board.err") || status=$?
    kill -INT $avrboard_pid
    wait $avrboard_pid || true
    [ $status -eq 0 ] ||
      fail "the tarball's blockhost did not flash the $board (exit $status): $(cat "$work/flash-$board.out" \
        "$work/flash-$board.err" "$work/avrboard-$board.err")"
    grep -q "^flashing $l/firmware/$folder/arduino_block-115200.hex to the .* with /usr/bin/avrdude" \
      "$work/flash-$board.out" ||
      fail "blockhost flashed another image or with another avrdude: $(cat "$work/flash-$board.out")"
    grep -q '^board answered 512' "$work/flash-$board.out" ||
      fail "the flashed $board does not answer: $(cat "$work/flash-$board.out")"
  done
}

case_linux_run() {
  unpack_linux
  local l=$work/$linux tool
  for tool in blockhost boardsim avrboard; do
    [ "$("$l/$tool" --version)" = "$tool $version" ] || fail "$tool --version does not say $version"
  done
  # dlopen looks for a bare name on blockhost's run path, which is its own
  # folder and nothing else.
  local runpath
  runpath=$(readelf -d "$l/blockhost" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = '$ORIGIN' ] || fail "blockhost's run path is '$runpath', not \$ORIGIN"
  for tool in arduino_block.so boardsim avrboard; do
    ! readelf -d "$l/$tool" | grep -Eq 'R(UN)?PATH' || fail "$tool carries a run path"
  done

  # The tarball's avrboard runs the .hex images beside it, each on its own
  # chip, and refuses each on the other's.
  local board mcu other status
  for board in uno mega2560; do
    mcu=atmega328p other=atmega2560
    [ $board = uno ] || { mcu=atmega2560 other=atmega328p; }
    status=0
    # Stopped by SIGINT after 3 s, it ends as a stopped board does, with 0.
    timeout --preserve-status -s INT 3 "$l/avrboard" --mcu $mcu \
      --firmware "$l/firmware/$board/arduino_block-9600.hex" --pty "$work/tty" \
      2>"$work/avrboard.err" || status=$?
    [ $status -eq 0 ] && grep -q '^avrboard: ready' "$work/avrboard.err" ||
      fail "avrboard did not run the tarball's $board image (exit $status): $(cat "$work/avrboard.err")"
    status=0
    "$l/avrboard" --mcu $other --firmware "$l/firmware/$board/arduino_block-9600.hex" --pty "$work/tty" \
      2>"$work/avrboard.err" || status=$?
    [ $status -eq 2 ] && grep -q -- "--mcu $mcu" "$work/avrboard.err" ||
      fail "avrboard ran the $board image on the $other or did not name --mcu $mcu (exit $status)"
  done

  flash_bootloaders "$l"

  start_board
  # From a folder of its own, with nothing of the tree on PATH.
  mkdir "$work/elsewhere"
  cd "$work/elsewhere"
  env -i PATH=/usr/bin:/bin HOME="$work" "$l/blockhost" info --lib arduino_block.so >info.txt ||
    fail "blockhost did not load the arduino_block.so beside it"
  grep -q "^library *$l/arduino_block.so\$\|^library *arduino_block.so\$" info.txt ||
    fail "blockhost info names another library: $(grep '^library' info.txt)"
  grep -q "^library version $version\$" info.txt ||
    fail "blockhost info does not show the module's version $version: $(cat info.txt)"
  env -i PATH=/usr/bin:/bin HOME="$work" "$l/blockhost" set --project p.prj interface=ethernet \
    address=127.0.0.1 udpport="$board_port" >/dev/null
  env -i PATH=/usr/bin:/bin HOME="$work" "$l/blockhost" run --project p.prj --steps 10 \
    --period-ms 5 --input 6=5 --input 7=0 >summary.txt || fail "blockhost run failed"
  check_outputs summary.txt
}

case_windows_run() {
  local probe
  if ! probe=$("$root/cmake/wine-probe.sh" --need-wine win32); then
    echo "skipped, as the archive holds the 32-bit product that only 32-bit Wine runs: $probe"
    exit 77
  fi
  unpack_linux
  unpack_windows
  start_board
  local w=$work/$windows
  cd "$w"
  # The project file lies beside blockhost.exe, so its name needs no
  # translation into a Windows path.
  "$root/cmake/wine-run.sh" ./blockhost.exe --version | tr -d '\r' >version.txt
  [ "$(cat version.txt)" = "blockhost $version" ] || fail "blockhost.exe --version says '$(cat version.txt)'"
  # What the DLL's version resource says, read through Windows' own calls.
  "$root/cmake/wine-run.sh" ./blockhost.exe info | tr -d '\r' >info.txt
  grep -q "^library version $version\$" info.txt ||
    fail "blockhost.exe info does not show the DLL's version $version: $(cat info.txt)"
  "$root/cmake/wine-run.sh" ./blockhost.exe set --project p.prj interface=ethernet \
    address=127.0.0.1 udpport="$board_port" >/dev/null
  "$root/cmake/wine-run.sh" ./blockhost.exe run --project p.prj --steps 10 --period-ms 5 \
    --input 6=5 --input 7=0 | tr -d '\r' >summary.txt || fail "blockhost.exe run failed"
  check_outputs summary.txt
}

case_no_build_paths() {
  unpack_linux
  unpack_windows
  "$here/no_build_paths.sh" "${BUILD_FOLDERS:-}" "$work/$linux" "$work/$windows" ||
    fail "the archives name a folder of the build"
}

case_pack() {
  local file
  for file in "$NATIVE_DIR"/{arduino_block.so,blockhost,boardsim,avrboard} \
    "$NATIVE_DIR"/bootloaders/{optiboot_atmega328,stk500boot_v2_mega2560}.hex \
    "$WIN32_DIR"/{ArduinoBlock.dll,blockhost.exe} \
    "$FIRMWARE_DIR"/{uno,mega2560}/arduino_block-{9600,19200,38400,115200,ethernet}.hex; do
    if [ ! -f "$file" ]; then
      echo "skipped: no $file to pack (./run test builds it)"
      exit 77
    fi
  done
  rm -rf "$dir"
  "$root/packaging/pack.sh" --version "$version" --native "$NATIVE_DIR" --win32 "$WIN32_DIR" \
    --firmware "$FIRMWARE_DIR" --out "$dir" >/dev/null
}

if [ "$case_name" != pack ] && [ ! -f "$dir/SHA256SUMS" ]; then
  echo "skipped: no archives in $dir"
  exit 77
fi

case "$case_name" in
  pack) case_pack ;;
  contents) case_contents ;;
  linux-run) case_linux_run ;;
  windows-run) case_windows_run ;;
  no-build-paths) case_no_build_paths ;;
  *) fail "unknown case $case_name" ;;
esac
echo "ok: $case_name"
