#!/usr/bin/env bash
# Runs a program of the i386 build (build/i386): natively where this
# machine's kernel runs i386 programs, else under qemu-i386-static, which
# emulates the processor for this one program (no binfmt registration, no
# i386 userland: the programs are static).  CTest starts every test of the
# build through it (CMAKE_CROSSCOMPILING_EMULATOR).
#   i386-run.sh PROGRAM [ARGS...]
#     Runs PROGRAM.  Where neither way works it prints one line saying why
#     and exits 77, which CTest counts as skipped, never as passed.
#   i386-run.sh --how
#     Prints how the programs run here, "natively (...)" or "under
#     qemu-i386-static (...)"; or why they cannot, exiting 1.
#
# The answer comes from running a probe of the build, a static i386 program
# that exits with 42 (ARDUINO_BLOCK_I386_PROBE names it; CTest passes it).
# ARDUINO_BLOCK_I386_RUN=qemu sends every program through qemu-i386-static
# even where the kernel would run it, to exercise that path;
# ARDUINO_BLOCK_I386_RUN=none makes the answer "cannot run", to exercise the
# skip.
set -uo pipefail

skip_code=77
probe=${ARDUINO_BLOCK_I386_PROBE:-}
forced=${ARDUINO_BLOCK_I386_RUN:-}

# Sets `runner` (empty for native) and `why`, or returns 1 with `why` the
# reason nothing can run the programs.
choose() {
  runner=""
  case $forced in
    "" | native | qemu) ;;
    none) why="forced by ARDUINO_BLOCK_I386_RUN=none"; return 1 ;;
    *) why="ARDUINO_BLOCK_I386_RUN=$forced is none of native, qemu, none"; return 1 ;;
  esac
  if [ -z "$probe" ] || [ ! -x "$probe" ]; then
    why="no probe program to try (ARDUINO_BLOCK_I386_PROBE=${probe:-unset})"
    return 1
  fi
  local status error native_why=""
  if [ "$forced" != qemu ]; then
    error=$( { "$probe"; } 2>&1 )
    status=$?
    if [ $status -eq 42 ]; then
      why="this machine's kernel runs i386 programs"
      return 0
    fi
    # Keep the system's own words, the part after the last colon.
    native_why="the kernel cannot run i386 programs (${error##*: })"
    [ -n "${error##*: }" ] || native_why="the kernel cannot run i386 programs (exit status $status instead of 42)"
    [ "$forced" = native ] && { why="$native_why; forced native"; return 1; }
  else
    native_why="forced by ARDUINO_BLOCK_I386_RUN=qemu"
  fi
  if ! command -v qemu-i386-static >/dev/null 2>&1; then
    why="$native_why, and qemu-i386-static is not installed (apt-get install qemu-user-static)"
    return 1
  fi
  qemu-i386-static "$probe" >/dev/null 2>&1
  status=$?
  if [ $status -ne 42 ]; then
    why="$native_why, and the probe under qemu-i386-static exits with $status instead of 42"
    return 1
  fi
  runner=qemu-i386-static
  why=$native_why
}

if [ "${1:-}" = --how ]; then
  if ! choose; then
    echo "$why"
    exit 1
  fi
  if [ -z "$runner" ]; then
    echo "natively ($why)"
  else
    echo "under qemu-i386-static ($why)"
  fi
  exit 0
fi

[ $# -ge 1 ] || { echo "usage: i386-run.sh PROGRAM [ARGS...] | --how" >&2; exit 2; }
if ! choose; then
  echo "i386 tests skipped: $why"
  exit $skip_code
fi
if [ -n "$runner" ]; then
  exec "$runner" "$@"
fi
exec "$@"
