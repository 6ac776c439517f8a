#!/usr/bin/env bash
# The test run's own rules, held against a build tree and against the
# launcher that gives a test a network namespace of its own.
#
#   tiers_test.sh tiers BUILD_DIR
#     Every test of the build is in exactly one tier (fast, wire, hil, wine,
#     static, i386); a hil test takes one of the machine's two slots and a Wine
#     test both, so that no board in real time runs beside Wine.
#   tiers_test.sh own-network LAUNCHER BOARDSIM
#     Two tests started through the launcher at once each hold port 1600
#     and see only loopback; where no namespace can be had they take the
#     port in turn instead, and both still get it.
set -euo pipefail
# shellcheck source=script_helpers.sh
source "$(dirname "$0")/script_helpers.sh"

check_tiers() {
  local build=$1 listing wrong
  command -v jq >/dev/null || { echo "skipped: jq is not installed"; exit 77; }
  listing=$(ctest --test-dir "$build" --show-only=json-v1) || fail "ctest could not list $build"
  [ "$(jq '.tests | length' <<<"$listing")" -gt 0 ] || fail "$build holds no tests"
  wrong=$(jq -r '
      def tiers: ["fast", "wire", "hil", "wine", "static", "i386"];
      .tests[] |
      ([.properties[]? | select(.name == "LABELS") | .value[]] | map(select(. as $l | tiers | index($l)))) as $t |
      ([.properties[]? | select(.name == "RESOURCE_GROUPS") | .value[].requirements[] |
        select(.[".type"] == "machine") | .slots] | add // 0) as $slots |
      if ($t | length) != 1 then "\(.name): in the tiers \($t | join(", ")) where one is right"
      elif $t[0] == "hil" and $slots != 1 then "\(.name): in the tier hil without a core of its own"
      elif $t[0] == "wine" and $slots != 2 then
        "\(.name): under Wine but free to run beside a board in real time"
      else empty end' <<<"$listing")
  [ -z "$wrong" ] || fail "$(printf 'tests out of the tier rules:\n%s' "$wrong")"
  echo "every test of $build is in one tier"
}

# One test as own-network.sh starts it: a boardsim holds UDP port 1600 on
# loopback for a moment, long enough for the other test to overlap it; the
# test writes how many network interfaces it saw, or "lost" when the
# boardsim could not hold the port.
holder() {
  local boardsim=$1 out=$2 pid
  "$boardsim" --udp 127.0.0.1:1600 >/dev/null 2>&1 & pid=$!
  sleep 0.5
  if ! kill -0 "$pid" 2>/dev/null; then
    echo lost >"$out"
    return 0
  fi
  ip -o link | wc -l >"$out"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

check_own_network() {
  local launcher=$1 boardsim=$2 a b
  scratch_folder own-network
  "$launcher" "$0" hold "$boardsim" "$work/a" & a=$!
  "$launcher" "$0" hold "$boardsim" "$work/b" & b=$!
  wait "$a" && wait "$b" || fail "the launcher did not run both tests"
  [ "$(cat "$work/a")" != lost ] && [ "$(cat "$work/b")" != lost ] ||
    fail "a test could not hold port 1600 while the other held it"
  if unshare -n true 2>/dev/null || unshare -rn true 2>/dev/null; then
    [ "$(cat "$work/a")" = 1 ] && [ "$(cat "$work/b")" = 1 ] ||
      fail "the tests saw $(cat "$work/a") and $(cat "$work/b") interfaces where only loopback belongs"
    echo "two tests held port 1600 at once, each in a namespace with only loopback"
  else
    echo "no namespace here: the two tests took port 1600 in turn"
  fi
}

case "${1:-}" in
  tiers) check_tiers "$2" ;;
  own-network) check_own_network "$2" "$3" ;;
  hold) holder "$2" "$3" ;;
  *) fail "usage: tiers_test.sh tiers BUILD_DIR | own-network LAUNCHER BOARDSIM" ;;
esac
