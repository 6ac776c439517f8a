#!/usr/bin/env bash
# Tells whether this machine can run a Windows build under Wine.
#   wine-probe.sh [--need-wine] [win32|win64]
#     Exits 0 when the build (by default win32, the product) can run here.
#     Otherwise exits 1 and prints one line saying why, e.g. "this machine
#     cannot run 32-bit x86 programs (exec of an i386 ELF: Exec format
#     error)".
#   wine-probe.sh --choose [--need-wine]
#     Prints the Windows build whose tests this run runs: win32, the product
#     under 32-bit Wine, wherever it can run; else win64, the same sources
#     built for 64-bit Wine.  Exits 1 with both reasons when neither can run.
#
# Wine for 32-bit Windows is itself an i386 Linux program, so the question is
# whether the kernel runs i386 ELF programs on this CPU.  Kernels built
# without IA-32 emulation, or booted with it off, refuse them with ENOEXEC,
# and so do non-x86 hosts; containers and WSL 1 often do too.  The only
# reliable answer is to run one, so the probe writes a 96-byte i386 program
# that exits with status 42 and executes it.  64-bit Wine needs only an
# x86-64 machine.
#
# --need-wine also asks for an installed Wine of the build's kind; without
# it the answer covers the machine alone (./run asks before it installs
# Wine).
#
# ARDUINO_BLOCK_NO_WINE=1 makes the answer "no" on any machine, to exercise
# the path that skips the Windows tests.  ARDUINO_BLOCK_WINDOWS_BUILD=win64
# makes a machine that could run the product test the 64-bit build instead,
# to exercise that path.  ./run probes once and exports its answer, so that
# every test program and CTest script below it reuses the result:
# ARDUINO_BLOCK_WINDOWS_BUILD names the build the run tests, and
# ARDUINO_BLOCK_WINE_VERDICT is "yes" or the reason it cannot run.
set -uo pipefail

need_wine=0
choose=0
build=win32
for arg in "$@"; do
  case $arg in
    --need-wine) need_wine=1 ;;
    --choose) choose=1 ;;
    win32 | win64) build=$arg ;;
    *) echo "usage: wine-probe.sh [--need-wine] [--choose | win32 | win64]" >&2; exit 2 ;;
  esac
done

answer() {
  if [ "$1" = yes ]; then
    exit 0
  fi
  printf '%s\n' "$1"
  exit 1
}

# Debian's wine package starts /usr/lib/wine/wine (wine32:i386) where it is
# installed and /usr/lib/wine/wine64 otherwise.
wine_missing() {
  [ $need_wine -eq 1 ] || return 1
  if ! command -v wine >/dev/null 2>&1; then
    echo "Wine is not installed (apt-get install $([ "$1" = win32 ] && echo 'wine wine32:i386' || echo 'wine wine64'))"
  elif [ "$1" = win32 ] && [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine is not installed (apt-get install wine32:i386)"
  elif [ "$1" = win64 ] && [ ! -x /usr/lib/wine/wine64 ]; then
    echo "64-bit Wine is not installed (apt-get install wine64)"
  else
    return 1
  fi
}

no_wine() { [ -n "${ARDUINO_BLOCK_NO_WINE:-}" ] && [ "${ARDUINO_BLOCK_NO_WINE}" != 0 ]; }

if [ $choose -eq 1 ]; then
  no_wine && answer "forced by ARDUINO_BLOCK_NO_WINE=$ARDUINO_BLOCK_NO_WINE"
  if [ -n "${ARDUINO_BLOCK_WINE_VERDICT:-}" ] && [ -n "${ARDUINO_BLOCK_WINDOWS_BUILD:-}" ]; then
    [ "$ARDUINO_BLOCK_WINE_VERDICT" = yes ] || answer "$ARDUINO_BLOCK_WINE_VERDICT"
    echo "$ARDUINO_BLOCK_WINDOWS_BUILD"
    exit 0
  fi
  flags=()
  [ $need_wine -eq 1 ] && flags=(--need-wine)
  if [ "${ARDUINO_BLOCK_WINDOWS_BUILD:-}" != win64 ] && why32=$("$0" "${flags[@]}" win32); then
    echo win32
  elif why64=$("$0" "${flags[@]}" win64); then
    echo win64
  else
    answer "${why32:-forced by ARDUINO_BLOCK_WINDOWS_BUILD=win64}; and for the 64-bit test build: $why64"
  fi
  exit 0
fi

if [ -n "${ARDUINO_BLOCK_WINDOWS_BUILD:-}" ] && [ "$build" != "$ARDUINO_BLOCK_WINDOWS_BUILD" ]; then
  answer "this run tests the Windows code with the $ARDUINO_BLOCK_WINDOWS_BUILD build"
fi
if [ -n "${ARDUINO_BLOCK_WINE_VERDICT:-}" ]; then
  [ "$ARDUINO_BLOCK_WINE_VERDICT" = yes ] && why=$(wine_missing "$build") && answer "$why"
  answer "$ARDUINO_BLOCK_WINE_VERDICT"
fi

if no_wine; then
  answer "forced by ARDUINO_BLOCK_NO_WINE=$ARDUINO_BLOCK_NO_WINE"
fi

if [ "$build" = win64 ]; then
  case "$(uname -m)" in
    x86_64) ;;
    *) answer "this machine's CPU is $(uname -m), and 64-bit Wine runs only on x86-64" ;;
  esac
  why=$(wine_missing win64) && answer "$why"
  answer yes
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/wine-probe.XXXXXX") || answer "no scratch folder for the probe"
trap 'rm -rf "$scratch"' EXIT
# ELF header (52 bytes), one PT_LOAD program header (32 bytes) and the code:
#   mov eax, 1 ; mov ebx, 42 ; int 0x80        (exit(42))
# loaded at 0x08048000, entry right after the headers.
printf '%b' \
  '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' \
  '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' \
  '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' \
  '\000\000\000\000' \
  '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' \
  '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' \
  '\270\001\000\000\000\273\052\000\000\000\315\200' >"$scratch/probe"
chmod +x "$scratch/probe"
# A folder mounted noexec would refuse any program, not just an i386 one.
cp /bin/true "$scratch/native" 2>/dev/null && chmod +x "$scratch/native"
if [ -x "$scratch/native" ] && ! "$scratch/native" 2>/dev/null; then
  answer "the probe's scratch folder $scratch cannot execute programs (set TMPDIR)"
fi

error=$( { "$scratch/probe"; } 2>&1 )
status=$?
if [ $status -ne 42 ]; then
  # The shell reports "...: cannot execute binary file: Exec format error";
  # keep the system's own words, the part after the last colon.
  reason=${error##*: }
  [ -n "$reason" ] || reason="exit status $status instead of 42"
  answer "this machine cannot run 32-bit x86 programs (exec of an i386 ELF: $reason)"
fi
case "$(uname -m)" in
  x86_64 | i?86) ;;
  # An i386 program that ran on another CPU went through an emulator
  # (binfmt_misc with qemu-user); Wine does not run that way.
  *) answer "this machine's CPU is $(uname -m), and Wine runs Windows programs only on x86" ;;
esac
why=$(wine_missing win32) && answer "$why"
answer yes
