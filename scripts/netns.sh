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

# Runs a build's tests in a namespace as isolated makes it, two at a time.
# Inside it each test that creates blocks gets a network namespace of its
# own (cmake/own-network.sh), so port 1600 no longer queues them; the Wine
# tests take the port in turn, as they share this namespace's Wine server
# (which makes their sockets), and the tests of the tier hil run alone
# (cmake/TestHelpers.cmake).  KEEP_WINE_SERVER=1 keeps one Wine server for
# the whole run, for a run that starts Windows programs
# (cmake/with-wine-server.sh).
# Usage: [CTEST_JOBS=N] [KEEP_WINE_SERVER=1] isolated_ctest PRESET [VAR=value...] [-- ctest arguments...]
isolated_ctest() {
  local preset=$1 vars=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    vars+=("$1")
    shift
  done
  [ "${1:-}" = -- ] && shift
  local server=()
  [ -n "${KEEP_WINE_SERVER:-}" ] && server=("$ROOT/cmake/with-wine-server.sh" "${WINDOWS_BUILD:-win32}")
  isolated env "${vars[@]}" "${server[@]}" ctest --preset "$preset" -j"${CTEST_JOBS:-2}" "$@"
}
