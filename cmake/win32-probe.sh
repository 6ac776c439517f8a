#!/usr/bin/env bash
# Tells whether this machine can run the Windows build under Wine.
#   win32-probe.sh [--need-wine]
# Exits 0 when it can.  Otherwise exits 1 and prints one line saying why,
# e.g. "this machine cannot run 32-bit x86 programs (exec of an i386 ELF:
# Exec format error)".
#
# Wine for 32-bit Windows is itself an i386 Linux program, so the question is
# whether the kernel runs i386 ELF programs on this CPU.  Kernels built
# without IA-32 emulation, or booted with it off, refuse them with ENOEXEC,
# and so do non-x86 hosts; containers and WSL 1 often do too.  The only
# reliable answer is to run one, so the probe writes a 96-byte i386 program
# that exits with status 42 and executes it.
#
# --need-wine also asks for an installed Wine; without it the answer covers
# the machine alone (./run asks before it installs Wine).
#
# ARDUINO_BLOCK_NO_WINE=1 makes the answer "no" on any machine, to exercise
# the path that skips the Windows tests.  ARDUINO_BLOCK_WINE_VERDICT carries
# an answer already found in this run ("yes" or the reason), so ./run probes
# once and every test program and CTest script below it reuses the result.
set -uo pipefail

need_wine=0
[ "${1:-}" = "--need-wine" ] && need_wine=1

answer() {
  if [ "$1" = yes ]; then
    exit 0
  fi
  printf '%s\n' "$1"
  exit 1
}

check_wine() {
  [ $need_wine -eq 1 ] || return 0
  command -v wine >/dev/null 2>&1 || answer "Wine is not installed (apt-get install wine wine32:i386)"
  [ -x /usr/lib/wine/wine ] || answer "32-bit Wine is not installed (apt-get install wine32:i386)"
}

if [ -n "${ARDUINO_BLOCK_WINE_VERDICT:-}" ]; then
  [ "$ARDUINO_BLOCK_WINE_VERDICT" = yes ] && check_wine
  answer "$ARDUINO_BLOCK_WINE_VERDICT"
fi

if [ -n "${ARDUINO_BLOCK_NO_WINE:-}" ] && [ "${ARDUINO_BLOCK_NO_WINE}" != 0 ]; then
  answer "forced by ARDUINO_BLOCK_NO_WINE=$ARDUINO_BLOCK_NO_WINE"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/win32-probe.XXXXXX") || answer "no scratch folder for the probe"
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
check_wine
answer yes
