#!/usr/bin/env bash
# How a run picks the Windows build it tests: the machine type read from a
# program's PE header, and the probe's answers under the variables ./run
# exports.  Needs no Wine.
set -uo pipefail
cmake_dir=$(cd "$(dirname "$0")/../../cmake" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # expect WHAT WANTED GOT
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: wanted '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

# A DOS header whose last field points at a PE signature at 0x40, then the
# machine field.
pe() {
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000'; printf "$2"; } >"$1"
}
pe "$work/i386.exe" '\114\001'
pe "$work/x64.exe" '\144\206'
pe "$work/arm.exe" '\144\252'
printf 'MZ but nothing more' >"$work/short.exe"
for case in i386.exe:win32:0 x64.exe:win64:0 arm.exe::1 short.exe::1 missing.exe::1; do
  IFS=: read -r file build status <<<"$case"
  got=$("$cmake_dir/pe-build.sh" "$work/$file" 2>/dev/null)
  expect "pe-build.sh $file" "$build:$status" "$got:$?"
done
got=$("$cmake_dir/wine-run.sh" "$work/arm.exe" 2>&1)
expect "wine-run.sh on an ARM program" "2" "$?"

# Wine that itself dies by a signal runs the program once more; a program's
# own failure, or a second crash, is the result.  A fake wine plays each
# row's exit statuses in turn.
if [ -x /usr/lib/wine/wine64 ]; then
  mkdir -p "$work/bin" "$work/prefix"
  touch "$work/prefix/system.reg"
  printf '#!/bin/sh\necho "$*" >>"$PLAYS.server"\n' >"$work/bin/wineserver"
  cat >"$work/bin/wine" <<'FAKE'
#!/bin/sh
set -- $(cat "$PLAYS")
echo x >>"$PLAYS.runs"
echo "${*#* }" >"$PLAYS.next"
mv "$PLAYS.next" "$PLAYS"
exit $1
FAKE
  chmod +x "$work/bin/wine" "$work/bin/wineserver"
  for row in "0:0:1" "139 0:0:2" "134 7:7:2" "139 139:139:2" "5 0:5:1" "130 0:130:1"; do
    IFS=: read -r plays status runs <<<"$row"
    echo "$plays" >"$work/plays"
    rm -f "$work/plays.runs"
    PATH="$work/bin:$PATH" PLAYS="$work/plays" WINEPREFIX="$work/prefix" ARDUINO_BLOCK_WINDOWS_BUILD=win64 \
      ARDUINO_BLOCK_WINE_VERDICT=yes "$cmake_dir/wine-run.sh" "$work/x64.exe" 2>/dev/null
    expect "wine-run.sh when wine exits $plays" "$status:$runs" "$?:$(wc -l <"$work/plays.runs")"
  done
  # A server kept for a whole run: each program only runs; the server is
  # made persistent before the first and ended after the last.
  echo "0 0 0 0" >"$work/plays"
  rm -f "$work/plays.runs" "$work/plays.server"
  PATH="$work/bin:$PATH" PLAYS="$work/plays" WINEPREFIX="$work/prefix" ARDUINO_BLOCK_WINDOWS_BUILD=win64 \
    ARDUINO_BLOCK_WINE_VERDICT=yes "$cmake_dir/with-wine-server.sh" win64 \
    sh -c '"$1" "$2" && "$1" "$2"' sh "$cmake_dir/wine-run.sh" "$work/x64.exe" 2>/dev/null
  expect "two programs under with-wine-server.sh" "0:4:-p0 -w -p -k -w" \
    "$?:$(wc -l <"$work/plays.runs"):$(tr '\n' ' ' <"$work/plays.server" | sed 's/ $//')"
else
  echo "wine-run.sh's rerun not tried: no 64-bit Wine (/usr/lib/wine/wine64) to let the probe pass"
fi

probe() { env -u ARDUINO_BLOCK_NO_WINE -u ARDUINO_BLOCK_WINDOWS_BUILD -u ARDUINO_BLOCK_WINE_VERDICT \
  "$@"; }
got=$(probe ARDUINO_BLOCK_NO_WINE=1 "$cmake_dir/wine-probe.sh" --choose)
expect "--choose without Wine" "forced by ARDUINO_BLOCK_NO_WINE=1:1" "$got:$?"
got=$(probe ARDUINO_BLOCK_WINDOWS_BUILD=win64 ARDUINO_BLOCK_WINE_VERDICT=yes "$cmake_dir/wine-probe.sh" --choose)
expect "--choose in a run that chose win64" "win64:0" "$got:$?"
got=$(probe ARDUINO_BLOCK_WINDOWS_BUILD=win64 ARDUINO_BLOCK_WINE_VERDICT=yes "$cmake_dir/wine-probe.sh" win32)
expect "the product in a run that chose win64" \
  "this run tests the Windows code with the win64 build:1" "$got:$?"
got=$(probe ARDUINO_BLOCK_WINE_VERDICT="no Wine here" "$cmake_dir/wine-probe.sh" win64)
expect "a verdict found earlier" "no Wine here:1" "$got:$?"
if [ "$(uname -m)" = x86_64 ]; then
  got=$(probe ARDUINO_BLOCK_WINDOWS_BUILD=win64 "$cmake_dir/wine-probe.sh" --choose)
  expect "--choose asked for win64 on x86-64" "win64:0" "$got:$?"
fi
"$cmake_dir/wine-probe.sh" win128 >/dev/null 2>&1
expect "an unknown build" "2" "$?"

[ $failures -eq 0 ] && echo "the probe and pe-build.sh answered as expected"
exit $((failures > 0))
