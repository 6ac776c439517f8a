# shellcheck shell=bash
# ./run check: the loop a developer runs while working, the native build and
# its tests of the tier fast (deterministic, no real waits, no simulated
# board in real time, no Wine).  ./run test stays the whole gate.
# Sourced by ./run, which has already changed into the tree (ROOT).

cmd_check() {
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $PKGS_NETNS $PKGS_BENCH
  netns_check
  say "building build/native"
  build_preset native
  say "testing build/native: the tier fast"
  isolated_ctest native -- -L '^fast$' "$@"
}
