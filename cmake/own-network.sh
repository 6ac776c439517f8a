#!/bin/sh
# Runs a test program in a network namespace of its own, with only loopback,
# up, so that the UDP port 1600 its blocks bind is its own and the tests that
# create blocks can run side by side.  Root gets one with unshare -n; anyone
# else, or a test already inside ./run's user namespace, with unshare -rn
# where user namespaces are allowed.  Where no namespace can be had, the
# program runs on the machine's network and holds a lock on port 1600
# meanwhile, so that such tests take the port in turn, as they must there.
#   own-network.sh program [argument...]
# Everything the program starts (boardsim, avrboard) is in the namespace too.
set -eu
if command -v ip >/dev/null 2>&1; then
  for how in "unshare -n" "unshare -rn"; do
    if $how true 2>/dev/null; then
      exec $how sh -c 'ip link set lo up && exec "$@"' sh "$@"
    fi
  done
fi
lock=${TMPDIR:-/tmp}/arduino-block-port1600.lock
exec flock "$lock" "$@"
