# shellcheck shell=bash
# ./run soak: the long runs.
# Sourced by ./run, which has already changed into the tree (ROOT).

# The long runs: the soak program for many steps against boardsim in the
# sanitizer build (./run test soaks 10,000 steps per build), 100 blocks
# created and disposed, and 1,000 steps under valgrind.
cmd_soak() {
  local steps=${1:-100000}
  ensure_packages $PKGS_NATIVE $PKGS_SOAK
  say "building the soak program in build/asan and build/native"
  cmake --preset asan -DARDUINO_BLOCK_WERROR="$(werror)" >/dev/null
  cmake --build build/asan --target block_soak block_lifecycle_test
  cmake --preset native -DARDUINO_BLOCK_WERROR="$(werror)" >/dev/null
  cmake --build build/native --target block_soak
  say "$steps steps over UDP under the sanitizers"
  ASAN_OPTIONS=detect_leaks=1 build/asan/tests/soak/block_soak --steps "$steps" --link udp
  say "10000 steps over a pseudo-terminal under the sanitizers"
  ASAN_OPTIONS=detect_leaks=1 build/asan/tests/soak/block_soak --steps 10000 --link pty
  say "100 blocks created and disposed under the sanitizers"
  ASAN_OPTIONS=detect_leaks=1 build/asan/tests/soak/block_lifecycle_test
  say "1000 steps under valgrind"
  valgrind -q --leak-check=full --error-exitcode=1 build/native/tests/soak/block_soak \
    --steps 1000 --link udp
  say "soak passed"
}
