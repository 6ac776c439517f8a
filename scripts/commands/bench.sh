# shellcheck shell=bash
# ./run bench: what the library adds to the transport's own round trip.
# Sourced by ./run, which has already changed into the tree (ROOT).

# The two reports of a bench in $1, native.md/json and wine.md/json (when
# Wine ran), joined into benchmarks.md, with the notes of
# docs/benchmarks-context.md after the figures, and benchmarks.json.
bench_join() {
  local out=$1
  {
    printf '# Benchmarks\n\n'
    cat "$out/native.md"
    if [ -f "$out/turnaround.md" ]; then
      printf '\n## The board'"'"'s own turnaround\n\n'
      cat "$out/turnaround.md"
    fi
    if [ -f "$out/wire.md" ]; then
      printf '\n## The step against the wire, at each serial speed\n\n'
      cat "$out/wire.md"
    fi
    if [ -f "$out/bridge.md" ]; then
      printf '\n## The step through each USB bridge, before buying a board\n\n'
      cat "$out/bridge.md"
    fi
    if [ -f "$out/wine.md" ]; then
      printf '\n## The DLL under Wine\n\n'
      cat "$out/wine.md"
    fi
    printf '\n'
    cat docs/benchmarks-context.md
  } >"$out/benchmarks.md"
  # jq checks each report as it reads it, so a report cut short fails here
  # instead of leaving a benchmarks.json that no reader can parse.
  local part parts=(--slurpfile native "$out/native.json")
  for part in turnaround wire bridge wine; do
    if [ -f "$out/$part.json" ]; then
      parts+=(--slurpfile "$part" "$out/$part.json")
    else
      parts+=(--argjson "$part" '[null]')
    fi
  done
  jq -n "${parts[@]}" \
    '{native: $native[0], turnaround: $turnaround[0], wire: $wire[0], bridge: $bridge[0],
      wine: $wine[0]}' \
    >"$out/benchmarks.json"
}

# Optimised build, boardsim on loopback, and the library's exchanges taking
# turns with a minimal client's, natively and (where Wine runs) the DLL under
# Wine.  Writes build/bench/benchmarks.md and benchmarks.json and fails when
# a target is missed; never touches a tracked file unless asked to with
# --update-docs, which copies both into docs/ when every target was met.
cmd_bench() {
  local count=10000 update_docs=0 arg
  for arg in "$@"; do
    case $arg in
      --update-docs) update_docs=1 ;;
      *[!0-9]* | "") echo "usage: ./run bench [--update-docs] [COUNT]" >&2; exit 1 ;;
      *) count=$arg ;;
    esac
  done
  wine_check
  if [ $update_docs = 1 ] && [ -n "$WINE_SKIPPED" ]; then
    echo "./run bench --update-docs: docs/benchmarks.md holds the figures under Wine too," \
      "and this machine cannot measure them. $WINE_SKIPPED" >&2
    exit 1
  fi
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $(windows_packages) $PKGS_NETNS $PKGS_BENCH
  ensure_wine
  # The Wine part measures the DLL of the Windows build the tests would run.
  local windows=${WINDOWS_BUILD:-win32}
  say "building the firmware, build/release and build/$windows"
  firmware/build.sh
  cmake --preset release >/dev/null
  cmake --build --preset release --target arduino_block boardsim exchange_bench avrboard \
    turnaround_bench wire_bench bridge_bench
  cmake --preset "$windows" >/dev/null
  cmake --build "build/$windows" --target arduino_block wine_bench
  local out=build/bench status=0
  rm -rf "$out"
  mkdir -p "$out"
  # In a namespace of its own, like the tests: the bench's blocks bind UDP
  # port 1600, which a test run or ./run dist beside it may hold too.
  netns_check
  say "measuring natively, the instructions of each side under callgrind too (about two minutes)"
  isolated build/release/bench/exchange_bench build/release/boardsim build/release/arduino_block.so \
    "$out" "$count" || status=1
  [ -f "$out/native.json" ] || exit 1
  say "measuring the firmware's own turnaround in avrboard, serial and Ethernet"
  isolated build/release/bench/turnaround_bench build/release/avrboard build/firmware "$out" || status=1
  say "measuring the block's step against the wire time at each serial speed, in avrboard"
  isolated build/release/bench/wire_bench build/release/avrboard build/release/arduino_block.so \
    build/firmware "$out" || status=1
  say "measuring the step through each USB bridge's model at 115200 baud, and over Ethernet, in avrboard"
  isolated build/release/bench/bridge_bench build/release/avrboard build/release/arduino_block.so \
    build/firmware "$out" || status=1
  if [ -n "$WINE_SKIPPED" ]; then
    say "not measuring ArduinoBlock.dll under Wine. $WINE_SKIPPED"
  else
    say "measuring build/$windows/ArduinoBlock.dll under Wine. $WINDOWS_LINE"
    # The board and the Wine program must share the namespace.
    isolated "$ROOT/run" wine-bench-inside "$out" "$count" "build/$windows" || status=1
    [ -f "$out/wine.md" ] && cat "$out/wine.md"
  fi
  bench_join "$out"
  say "results in $out/benchmarks.md and $out/benchmarks.json"
  if [ $update_docs = 1 ]; then
    if [ $status -ne 0 ]; then
      say "targets missed: docs/ left as it was"
    else
      cp "$out/benchmarks.md" "$out/benchmarks.json" docs/
      say "copied both into docs/"
    fi
  fi
  return $status
}

# ./run bench's Wine half, run by cmd_bench inside the bench's namespace.
bench_wine_inside() {
  local out=$1 count=$2 windows=$3 status=0
  trap board_stop EXIT
  board_start "$out/boardsim.err" build/release/boardsim --udp 127.0.0.1:0
  cmake/wine-run.sh "$windows/bench/wine_bench.exe" "$windows/ArduinoBlock.dll" \
    "$(board_port)" "$out" "$count" || status=1
  board_stop
  return $status
}
