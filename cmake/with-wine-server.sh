#!/usr/bin/env bash
# Runs a command (a test run) with one Wine server kept for all the Windows
# programs it starts in the project's prefix of a build, instead of a server
# started and ended for each program.  A program then starts in a quarter of
# a second instead of nearly three, and no program ever meets a server that
# is shutting down.
#   with-wine-server.sh win32|win64 COMMAND [ARGS...]
# Wine's server makes the programs' sockets itself, so it runs in the network
# namespace of the command.  Prefixes of their own (the dialog's, under its
# own display) keep a server per program, as wine-run.sh starts them.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1
shift

export WINEARCH=$build
if [ "$build" = win64 ]; then
  prefix=${WINEPREFIX:-$here/build/wineprefix64}
else
  prefix=${WINEPREFIX:-$here/build/wineprefix}
fi
if ! "$here/cmake/wine-probe.sh" --need-wine "$build" >/dev/null; then
  exec "$@"  # wine-run.sh says why each program is skipped
fi
# A complete prefix first: its registry files are on disk once the server
# that made them has ended, and wine-run.sh looks for them.
WINEPREFIX=$prefix "$here/cmake/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
WINEPREFIX=$prefix WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
# The first program of a server starts Wine's own (services, the device
# manager, the desktop), which live as long as the server and keep the
# output they inherited.  Started from here they hold none of a test's, so
# CTest does not wait for them to close it.
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
status=0
ARDUINO_BLOCK_WINE_SERVER=$prefix "$@" || status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
WINEPREFIX=$prefix timeout 30 wineserver -w 2>/dev/null || true
exit $status
