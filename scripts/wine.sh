# shellcheck shell=bash
# Which Windows build a run tests under Wine, its packages, its build and its tests.
# Sourced by ./run, which has already changed into the tree (ROOT).

# Wine after everything else, as root: a mirror that lacks an i386 index,
# or serves an old one, can make wine32:i386 impossible to install while the
# rest installs fine.  Then the run tests the 64-bit build under 64-bit Wine
# instead, and only when that cannot be installed either are the Windows
# tests skipped with the reason.  Without root, ensure_packages has already
# named what is missing.
ensure_wine() {
  [ -n "$WINDOWS_BUILD" ] && [ "$(id -u)" -eq 0 ] || return 0
  local log why
  log=$(mktemp)
  if [ "$WINDOWS_BUILD" = win32 ]; then
    if ensure_packages $PKGS_WINE32 $PKGS_PASCAL 2>"$log"; then
      rm -f "$log"
      return 0
    fi
    why=$(grep -v '^ *$' "$log" | tail -n 1)
    why="32-bit Wine could not be installed (apt-get install $PKGS_WINE32: ${why:-failed})"
    say "$why; testing the 64-bit build under 64-bit Wine instead"
    windows_build win64 "$why"
  fi
  if ! ensure_packages $PKGS_WINE64 2>"$log"; then
    why=$(grep -v '^ *$' "$log" | tail -n 1)
    windows_build "" "Wine could not be installed (apt-get install $PKGS_WINE64: ${why:-failed})"
  fi
  rm -f "$log"
}

# Decides once per run which Windows build the tests run under Wine, and
# exports the answer for every test below (see cmake/wine-probe.sh):
# win32, the product, under 32-bit Wine wherever the machine runs 32-bit
# programs; else win64, the same sources built for 64-bit Windows, under
# 64-bit Wine; else none, with the reason.  WINDOWS_LINE says in one line
# which and why.  ARDUINO_BLOCK_NO_WINE=1 forces "none", and
# ARDUINO_BLOCK_WINDOWS_BUILD=win64 the 64-bit build.
WINDOWS_BUILD=""
WINDOWS_LINE=""
WINE_SKIPPED=""
wine_check() {
  unset ARDUINO_BLOCK_WINE_VERDICT
  local forced=() chosen why32 also="; and for the 64-bit test build: "
  if [ "${ARDUINO_BLOCK_WINDOWS_BUILD:-}" = win64 ]; then
    forced=(ARDUINO_BLOCK_WINDOWS_BUILD=win64)
  fi
  if ! chosen=$(env -u ARDUINO_BLOCK_WINDOWS_BUILD "${forced[@]}" cmake/wine-probe.sh --choose); then
    # The probe gives the reasons of both builds; one reason for both is
    # said once.
    why32=${chosen%%"$also"*}
    [ "$chosen" = "$why32$also$why32" ] && chosen=$why32
    windows_build "" "$chosen"
  elif [ "$chosen" = win32 ]; then
    windows_build win32 "this machine runs 32-bit programs"
  elif [ ${#forced[@]} -gt 0 ]; then
    windows_build win64 "forced by ARDUINO_BLOCK_WINDOWS_BUILD=win64"
  else
    # The 64-bit build runs because the product cannot: say why not.
    why32=$(env -u ARDUINO_BLOCK_WINDOWS_BUILD cmake/wine-probe.sh win32) || true
    windows_build win64 "$why32"
  fi
}

# windows_build win32|win64|"" WHY: the Windows build this run tests, and why.
windows_build() {
  WINDOWS_BUILD=$1
  if [ -n "$1" ]; then
    export ARDUINO_BLOCK_WINDOWS_BUILD=$1 ARDUINO_BLOCK_WINE_VERDICT=yes
    WINE_SKIPPED=""
    if [ "$1" = win32 ]; then
      WINDOWS_LINE="Windows tests: the product, build/win32, under 32-bit Wine ($2)"
    else
      WINDOWS_LINE="Windows tests: the 64-bit test build, build/win64, under 64-bit Wine, as 32-bit Wine cannot run here ($2); the 32-bit-only cases are skipped"
    fi
  else
    unset ARDUINO_BLOCK_WINDOWS_BUILD
    export ARDUINO_BLOCK_WINE_VERDICT=$2
    WINE_SKIPPED="Windows tests skipped: $2"
    WINDOWS_LINE=$WINE_SKIPPED
  fi
}

# The Windows builds' packages, with the Wine that runs the chosen one.
# Without root they are named up front; as root ensure_wine installs Wine
# last.
windows_packages() {
  local pkgs=$PKGS_WIN32
  if [ "$(id -u)" -ne 0 ]; then
    case $WINDOWS_BUILD in
      win32) pkgs+=" $PKGS_WINE32 $PKGS_PASCAL" ;;
      win64) pkgs+=" $PKGS_WINE64" ;;
    esac
  elif [ "$WINDOWS_BUILD" = win64 ]; then
    # The compiler now, Wine itself last.
    pkgs+=" $PKGS_WIN64"
  fi
  echo "$pkgs"
}

# Builds the Windows code this run tests, before the native tests: their
# tests/wine_e2e runs blockhost.exe and the DLL under Wine beside the Linux
# build.  The product, build/win32, is built on every machine, for its static
# checks at least; where it cannot run, only the DLL and blockhost.exe, and
# the 64-bit test build beside it in full.
build_windows() {
  if [ "$WINDOWS_BUILD" = win32 ]; then
    say "building build/win32 (cross build for 32-bit Windows)"
    build_preset win32
    return 0
  fi
  say "building ArduinoBlock.dll and blockhost.exe in build/win32 (cross build for 32-bit Windows)"
  cmake --preset win32 -DARDUINO_BLOCK_WERROR="$(werror)" >/dev/null
  cmake --build --preset win32 --target arduino_block blockhost
  if [ "$WINDOWS_BUILD" = win64 ]; then
    say "building build/win64 (the same sources for 64-bit Windows, to test under 64-bit Wine)"
    build_preset win64
  fi
}

# Runs the Windows tests: wine-run.sh runs each program in a Wine prefix of
# its own under build/, headless.  The static checks of the product (label
# static) run on every machine; the Wine-run tests in the build chosen, and
# where none runs every Wine-run test of build/win32 counts as skipped.
test_windows() {
  case $WINDOWS_BUILD in
    win32)
      say "testing build/win32 under 32-bit Wine"
      isolated cmake/with-wine-server.sh win32 ctest --preset win32 -j2
      ;;
    win64)
      say "checking the product's files in build/win32 (no Wine needed)"
      isolated ctest --preset win32 -j2 -L static
      say "testing build/win64 under 64-bit Wine"
      isolated cmake/with-wine-server.sh win64 ctest --preset win64 -j2
      ;;
    *)
      say "testing build/win32 without Wine. $WINE_SKIPPED"
      isolated ctest --preset win32 -j2
      ;;
  esac
}
