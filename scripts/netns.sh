# shellcheck shell=bash
# The network namespace the tests, benches and archive checks run in.
# Sourced by ./run, which has already changed into the tree (ROOT).

# Decides once per run whether the test suites can run in a network
# namespace of their own that has only loopback: a name look-up there fails
# at once with nothing sent, and the run has a UDP port 1600 of its own, so
# two runs on one machine no longer take it from each other.  Root makes one
# with unshare -n, anyone else inside a user namespace (unshare -rn).  A
# mount namespace beside it, where one can be had, points the resolver at
# loopback too, so that a look-up does not even try the name server it could
# not reach.  Where no namespace can be made the tests run on the machine's
# network, and those that need a look-up to fail skip (they check for
# themselves what they can reach).
NETNS=()
NETNS_RESOLV=$ROOT/build/loopback-resolv.conf
netns_check() {
  local how why
  if [ "$(id -u)" -eq 0 ]; then how="unshare -n"; else how="unshare -rn"; fi
  mkdir -p "$(dirname "$NETNS_RESOLV")"
  echo "nameserver 127.0.0.1" >"$NETNS_RESOLV"
  if $how -m sh -c 'ip link set lo up && mount --bind "$1" /etc/resolv.conf' sh "$NETNS_RESOLV" \
      >/dev/null 2>&1; then
    read -ra NETNS <<<"$how -m"
  elif why=$($how ip link set lo up 2>&1); then
    read -ra NETNS <<<"$how"
  else
    NETNS=()
    say "tests run on this machine's network, without a namespace of their own ($how: ${why:-failed}); the look-up tests skip"
    return 0
  fi
  say "running in a network namespace of its own, with only loopback (${NETNS[*]}): nothing leaves this machine"
}

# Runs a command in a fresh network namespace as netns_check decided, with
# loopback up in it and ARDUINO_BLOCK_LOOPBACK_ONLY=1 once it is seen to be
# the only interface (the Windows tests under Wine need the word, see
# tests/platform/win32/test_platform.h); without a namespace, as it is.
isolated() {
  local enter='{ ip link set lo up && [ "$(ip -o link show | wc -l)" -eq 1 ]; } ||
               { echo "./run: the namespace holds more than loopback" >&2; exit 1; }
               export ARDUINO_BLOCK_LOOPBACK_ONLY=1'
  case "${NETNS[*]}" in
    "") env -u ARDUINO_BLOCK_LOOPBACK_ONLY "$@" ;;
    *-m) "${NETNS[@]}" sh -c "$enter"' && mount --bind "$1" /etc/resolv.conf && shift &&
                                        exec "$@"' sh "$NETNS_RESOLV" "$@" ;;
    *) "${NETNS[@]}" sh -c "$enter"' && exec "$@"' sh "$@" ;;
  esac
}

# Runs a build's tests as two ctest runs side by side, each in a network
# namespace of its own.  Most tests create blocks, and a block binds UDP
# port 1600, so within one namespace those tests run one at a time (their
# CTest lock); two namespaces give two ports 1600 and halve that queue.
# Some tests must not be spread over both: the Wine tests share one Wine
# server, whose sockets live in the namespace that started it, and a
# fixture's set-up would run in both; they all go to the first half.  The
# tests labelled realtime, whose simulated board must keep up with the wall
# clock, must not run two at once; they all go to the second.  The rest go
# to the lighter half, longest first, by each test's last run time where
# ctest has one.  A test not yet timed counts as a second, a Wine test as
# twelve and a realtime one as thirty, about what they take.  Each half runs
# one test at a time, so the machine is no busier than under one ctest -j2.
# Without a namespace the tests run as one ctest, as before.  Each half's
# lines are marked with its number; the last lines say how each half ended.
# Usage: isolated_ctest PRESET [VAR=value...]
isolated_ctest() {
  local preset=$1 dir=build/$1
  shift
  if [ ${#NETNS[@]} -eq 0 ]; then
    isolated env "$@" ctest --preset "$preset" -j2
    return
  fi
  local lists
  lists=$(mktemp -d)
  ctest --test-dir "$dir" --show-only=json-v1 | jq -r '
      .tests | to_entries[] |
      ([.value.properties[]? | select(.name == "LABELS") | .value[]]) as $labels |
      ([.value.properties[]? | select(.name | startswith("FIXTURES_"))] | length) as $fixture |
      (if $labels | index("wine") or $fixture > 0 then 1
       elif $labels | index("realtime") then 2 else 0 end) as $half |
      "\(.key + 1) \($half) \(.value.name)"' |
    awk -v costs="$dir/Testing/Temporary/CTestCostData.txt" '
      BEGIN { while ((getline line < costs) > 0) { split(line, f, " ")
                if (f[1] == "---") break; if (f[3] != "") cost[f[1]] = f[3] } }
      { print $1, $2, (($3 in cost) ? cost[$3] : ($2 == 1 ? 12 : $2 == 2 ? 30 : 1)) }' |
    sort -k2,2nr -k3,3gr |
    awk -v out="$lists" '
      # The tests of a given half first, then the longest first.
      { half = ($2 > 0) ? $2 : (load[1] <= load[2]) ? 1 : 2
        load[half] += $3; n[half] = n[half] "," $1 }
      END { for (h = 1; h <= 2; ++h) print "0,0,1" n[h] > (out "/half" h) }'
  local status=0 pids=() h
  for h in 1 2; do
    # -I with a file: "start,end,stride,then test numbers"; 0,0 selects
    # only the numbers listed.
    (isolated env "$@" ctest --preset "$preset" -j1 -I "$lists/half$h" 2>&1 |
       sed -u "s/^/[$h] /"; exit "${PIPESTATUS[0]}") &
    pids+=($!)
  done
  for h in 1 2; do wait "${pids[h - 1]}" || { say "half $h of build/$preset's tests failed"; status=1; }; done
  rm -rf "$lists"
  return "$status"
}
