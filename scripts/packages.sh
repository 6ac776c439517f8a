# shellcheck shell=bash
# Debian packages: which each command needs, and installing what is missing;
# the CMake presets built with them.  Sourced by ./run, which has already
# changed into the tree (ROOT).

# Debian packages, by what needs them.
PKGS_NATIVE="cmake ninja-build g++ pkg-config libcli11-dev libgtest-dev libglib2.0-dev libgtk-3-dev libudev-dev umockdev libumockdev-dev xvfb xdotool locales"
PKGS_FIRMWARE="gcc-avr avr-libc arduino-core-avr arduino-mk libsimavr-dev libsimavrparts1 libelf-dev"
PKGS_FUZZ="clang libclang-rt-14-dev"
# The product, built on every machine.
PKGS_WIN32="g++-mingw-w64-i686"
# The i386 build of the portable core: the 32-bit compiler and C library,
# GoogleTest's sources to build with them, and the emulator that runs the
# static programs where the kernel cannot.
PKGS_I386="g++-multilib googletest qemu-user-static"
# Which Wine, and for which build, depends on the machine (see wine_check):
# the product under 32-bit Wine, or else the 64-bit test build under 64-bit
# Wine.  fonts-wine, which apt would only recommend, holds the dialog's font
# and the window frame's symbols (Marlett) for its screenshot.
PKGS_WINE32="wine wine32:i386 fonts-wine"
# The 64-bit test build's compiler goes with its Wine.
PKGS_WIN64="g++-mingw-w64-x86-64-posix"
PKGS_WINE64="wine wine64 fonts-wine $PKGS_WIN64"
# The Pascal host among the Windows tests, built only where 32-bit Wine runs
# them.
PKGS_PASCAL="fpc-source-3.2.2 fp-compiler-3.2.2 fp-utils-3.2.2"
PKGS_SOAK="valgrind"
# The archive checks flash the unpacked archive's images with avrdude.
PKGS_DIST="zip unzip avrdude"
# jq joins the benches' JSON reports; valgrind's callgrind counts the instructions
# of each side of the native bench's UDP exchange.
PKGS_BENCH="jq valgrind"
PKGS_LINT="clang-format"
# ip, to bring up loopback in the tests' network namespace (see netns_check).
PKGS_NETNS="iproute2"

# Says what comes next, with the time since ./run started, so that a long
# run shows where its minutes go.
say() { printf '\033[1m==> [%d:%02d] %s\033[0m\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*" >&2; }

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# Installs what is missing with one apt-get update and one apt-get install;
# without root it prints the command and stops.
ensure_packages() {
  local need
  need=$(missing_packages "$@" | tr '\n' ' ')
  [ -z "${need// /}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing. Install them, then run this again:" >&2
    echo "  sudo apt-get install -y $need" >&2
    exit 1
  fi
  say "installing: $need"
  if [[ " $need " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    # The lists fetched before know no i386 package: fetch them again.
    APT_UPDATED=""
  fi
  # A mirror caught mid-sync fails the update for one index; try again a
  # little later, and go on with what was fetched when it keeps failing:
  # the install below then says which package it could not find.
  local try
  for try in 1 2 3; do
    [ -n "$APT_UPDATED" ] && break
    apt-get update -qq && break
    [ "$try" -lt 3 ] && { say "apt-get update failed; trying again in $((try * 20)) s"; sleep $((try * 20)); }
  done
  APT_UPDATED=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need >/dev/null
}
APT_UPDATED=""

# A locale whose decimal separator is a comma, for the locale tests.
ensure_comma_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE.utf8$' && return 0
  if [ "$(id -u)" -eq 0 ]; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
  fi
}

werror() { [ "${CI:-}" = "true" ] && echo ON || echo OFF; }

# build_preset PRESET [-DVAR=value...]
build_preset() {
  local preset=$1
  shift
  cmake --preset "$preset" -DARDUINO_BLOCK_WERROR="$(werror)" "$@" >/dev/null
  cmake --build --preset "$preset"
}
