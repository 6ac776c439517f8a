#!/usr/bin/env bash
# Builds Free Pascal's cross compiler for i386-win32 and its run-time library
# from Debian's sources with Debian's own compiler, into a folder of its own:
#   build-fpc.sh OUT
# leaves OUT/ppcross386 and the RTL's units under OUT/units/i386-win32, and
# OUT/stamp once both are there; a second run with OUT complete does
# nothing.  Needs fpc-source-3.2.2, fp-compiler-3.2.2 and fp-utils-3.2.2.
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
version=3.2.2
source=/usr/share/fpcsrc/$version
[ -f "$out/stamp" ] && exit 0
for need in "$source/compiler/Makefile.fpc" /usr/bin/ppcx64 /usr/bin/fpcmake; do
  if [ ! -e "$need" ]; then
    echo "build-fpc: $need is missing (apt-get install fpc-source-$version fp-compiler-$version fp-utils-$version)" >&2
    exit 1
  fi
done
messages=$(dpkg -L "fp-compiler-$version" | grep '/msg/errore\.msg$' | head -n1)
[ -n "$messages" ] || { echo "build-fpc: fp-compiler-$version holds no errore.msg" >&2; exit 1; }

# The sources are read-only and come without the Makefiles that fpcmake
# generates, nor the English message file that the compiler's build turns
# into msgtxt.inc: both are made in a copy.
rm -rf "$out/src"
mkdir -p "$out/src"
cp -r "$source/compiler" "$source/rtl" "$out/src/"
mkdir -p "$out/src/compiler/msg"
cp "$messages" "$out/src/compiler/msg/errore.msg"
(cd "$out/src/compiler" && fpcmake -Tall -r >/dev/null)
(cd "$out/src/rtl" && fpcmake -Tall -r >/dev/null)
# The RTL's Makefiles include the processor's include-file list, which the
# package leaves out as well; it only feeds the system unit's dependencies.
if [ ! -f "$out/src/rtl/i386/makefile.cpu" ]; then
  printf '%s\n' 'CPUNAMES=i386 math set setjump setjumph' \
    'CPUINCNAMES=$(addsuffix .inc,$(CPUNAMES))' >"$out/src/rtl/i386/makefile.cpu"
fi

jobs=(-j"${FPC_BUILD_JOBS:-2}")
# A compiler that runs here and emits i386 code, for any of its targets.
make -C "$out/src/compiler" "${jobs[@]}" FPC=/usr/bin/ppcx64 PPC_TARGET=i386 compiler >"$out/compiler.log" 2>&1 || { tail -n 30 "$out/compiler.log" >&2; exit 1; }
compiler=$(find "$out/src/compiler" -maxdepth 1 -name 'ppcross386' -o -maxdepth 1 -name 'ppc386' | head -n1)
[ -n "$compiler" ] || { echo "build-fpc: the compiler's build made no ppcross386" >&2; exit 1; }
cp "$compiler" "$out/ppcross386"
make -C "$out/src/rtl" "${jobs[@]}" FPC="$out/ppcross386" CPU_TARGET=i386 OS_TARGET=win32 all \
  >"$out/rtl.log" 2>&1 || { tail -n 30 "$out/rtl.log" >&2; exit 1; }
make -C "$out/src/rtl" FPC="$out/ppcross386" CPU_TARGET=i386 OS_TARGET=win32 \
  INSTALL_PREFIX="$out" INSTALL_UNITDIR="$out/units/i386-win32/rtl" install >>"$out/rtl.log" 2>&1 ||
  { tail -n 30 "$out/rtl.log" >&2; exit 1; }
rm -rf "$out/src"
touch "$out/stamp"
