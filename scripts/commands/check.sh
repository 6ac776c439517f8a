# shellcheck shell=bash
# ./run check: the loop a developer runs while working, the native build and
# its tests of the tier fast (deterministic, no real waits, no simulated
# board in real time, no Wine), and the i386 build's tests.  ./run test
# stays the whole gate.
# Sourced by ./run, which has already changed into the tree (ROOT).

cmd_check() {
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $PKGS_NETNS $PKGS_BENCH $PKGS_I386
  netns_check
  # A few seconds once built (scripts/commands/test.sh).
  test_i386
  say "building build/native"
  build_preset native
  say "testing build/native: the tier fast"
  isolated_ctest native -- -L '^fast$' "$@"
}
