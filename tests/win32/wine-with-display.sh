#!/usr/bin/env bash
# Runs a Windows program under Wine on an Xvfb of its own, for tests that
# open real windows: Wine without a display refuses top-level windows.
#   wine-with-display.sh PROGRAM.exe [ARGS...]
# WINEPREFIX must name a prefix that only these runs use: Wine fixes a
# prefix's display when its first program starts, and this script waits for
# the prefix's Wine server to end before the X server goes.  Wine draws the
# window frames itself there, as there is no window manager to draw them.
# Exits with 77 (a skipped test to CTest) when Xvfb is not installed or this
# machine cannot run Wine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../cmake/wine-run.sh

if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-with-display.sh: set WINEPREFIX to a prefix of this test's own" >&2
  exit 2
fi
# A Wine built-in run below (reg) needs the prefix's kind, which the program
# decides: 64-bit for the win64 test build.
WINEARCH=$("$here/../../cmake/pe-build.sh" "$1") || WINEARCH=win32
export WINEARCH
if ! why=$("$here/../../cmake/wine-probe.sh" --need-wine "$WINEARCH"); then
  echo "Windows tests skipped: $why" >&2
  exit 77
fi
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIPPED: Xvfb is not installed, and the dialog's window needs a display" >&2
  echo "  (apt-get install xvfb)" >&2
  exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  timeout 30 wineserver -w 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  grep -q '[0-9]' "$work/display" 2>/dev/null && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
number=$(tr -dc '0-9' <"$work/display")
if [ -z "$number" ]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$number"

"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
# Debian's Wine leaves its own fonts out of a new prefix; the dialog font
# and the frame's symbols (Marlett) come from them.
fonts=$WINEPREFIX/drive_c/windows/Fonts
if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
  for font in /usr/share/wine/fonts/*; do
    # An empty folder leaves the pattern itself, which is no font.
    [ -e "$font" ] || continue
    [ -e "$fonts/$(basename "$font")" ] || ln -s "$font" "$fonts/"
  done
fi
"$wine_run" "$@"
