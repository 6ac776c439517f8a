#!/usr/bin/env bash
# Prints which Windows build a program or DLL belongs to, read from its PE
# header: win32 for i386, win64 for x86-64.  Exits 1 for anything else.
#   pe-build.sh FILE
# The DOS header holds the PE header's offset at 0x3c; the machine field
# follows the PE signature: 0x14c for i386, 0x8664 for x86-64.
set -uo pipefail
offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
[ -n "$offset" ] || exit 1
[ "$(od -An -c -j"$offset" -N2 "$1" 2>/dev/null | tr -d ' ')" = PE ] || exit 1
case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ') in
  014c) echo win32 ;;
  8664) echo win64 ;;
  *) exit 1 ;;
esac
