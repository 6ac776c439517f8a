#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, so tests
# never touch the user's ~/.wine and need no display.  The prefix is created
# on first use; a lock keeps parallel test runs from creating it twice.
#   wine-run.sh PROGRAM.exe [ARGS...]
# The program itself says which Wine it needs: a 32-bit one runs under
# 32-bit Wine in build/wineprefix, a 64-bit one (the win64 test build) under
# 64-bit Wine in build/wineprefix64.  A Wine built-in such as `reg` runs
# under the kind WINEARCH names, 32-bit by default.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build=${WINEARCH:-win32}
if [ -f "${1:-}" ] && ! build=$("$here/cmake/pe-build.sh" "$1"); then
  echo "wine-run: $1 is not a Windows program for i386 or x86-64" >&2
  exit 2
fi
export WINEARCH=$build
if [ "$build" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix64}
else
  export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: their install prompts would wait for a click that never
# comes, and console programs need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# On a machine that cannot run Wine, say why and exit as a skipped test.
if ! why=$("$here/cmake/wine-probe.sh" --need-wine "$build"); then
  echo "Windows tests skipped: $why" >&2
  exit 77
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-run: creating the Wine prefix $WINEPREFIX" >&2
      DISPLAY= wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# Each program gets a Wine server of its own, started to end the moment its
# last program does (by default it lingers 3 s), and the script returns only
# once it has ended.  A program started while the previous one's server was
# still shutting down sometimes found no desktop and could not create even a
# message-only window ("system error 0"), which made tests fail at random.
# A server that outlives its programs by a minute is stuck (seen once, on a
# loaded machine, after a dialog test had passed): it is ended, so that the
# test reports its own result instead of its time-out.
run_once() {
  status=0
  # with-wine-server.sh keeps one server for a whole test run.
  if [ "${ARDUINO_BLOCK_WINE_SERVER:-}" = "$WINEPREFIX" ]; then
    wine "$@" || status=$?
    return
  fi
  wineserver -p0 </dev/null >/dev/null 2>&1 || true
  wine "$@" || status=$?
  if ! timeout 60 wineserver -w 2>/dev/null; then
    echo "wine-run: the Wine server did not end within 60 s of the program; ending it" >&2
    wineserver -k 2>/dev/null || true
  fi
}

# A fault in the Windows program ends it with the exception's code (an
# access violation exits 5), never by a signal: Wine turns the fault into an
# exception first.  So a Wine killed by SIGSEGV, SIGBUS or SIGABRT crashed in
# its own code; it did, rarely, at the exit of a program that had passed.
# Such a run is said and made once more; a second crash is the result.
run_once "$@"
case $status in
  134 | 135 | 139)
    echo "wine-run: Wine itself ended by signal $((status - 128)); running $1 once more" >&2
    run_once "$@"
    ;;
esac
exit $status
