# shellcheck shell=bash
# ./run test: every test, in every build.
# Sourced by ./run, which has already changed into the tree (ROOT).

# Every C and C++ file git tracks must be as clang-format, with the
# checked-in .clang-format, would leave it.
format_check() {
  local files
  mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' '*.ino')
  if ! clang-format --dry-run -Werror "${files[@]}"; then
    echo "these files are not formatted: run clang-format -i on them" >&2
    exit 1
  fi
  echo "  ${#files[@]} files formatted as .clang-format says"
}

cmd_test() {
  wine_check
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $(windows_packages) $PKGS_FUZZ $PKGS_SOAK $PKGS_DIST \
    $PKGS_NETNS $PKGS_LINT $PKGS_BENCH
  ensure_wine
  say "$WINDOWS_LINE"
  ensure_comma_locale
  netns_check
  say "checking the formatting"
  format_check
  # Before the native tests, which run the library against this image.
  say "building the firmware for Uno and Mega 2560"
  firmware/build.sh
  say "building the firmware again elsewhere: it must come out byte for byte the same"
  tests/dist/firmware_rebuilds.sh
  build_windows
  say "building and testing build/native"
  build_preset native
  KEEP_WINE_SERVER=1 isolated_ctest native
  # The sanitizers look at the library's own code, which the tiers fast and
  # wire test; the hardware-in-the-loop rows run once more from their images,
  # the library against the real firmware.  The rest (the tools' real-time
  # tests, Wine) tests nothing the native run has not.
  say "building and testing build/asan (address and undefined-behaviour sanitizers): the tiers fast and wire, and the hardware-in-the-loop rows"
  # Its rows run the plain build's avrboard, which keeps pace with the wall
  # clock where a sanitized one barely does.
  build_preset asan -DARDUINO_BLOCK_AVRBOARD="$ROOT/build/native/avrboard"
  local sanitizers=(ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1)
  isolated_ctest asan "${sanitizers[@]}" -- -L '^(fast|wire)$'
  # One row at a time: beside a second row and the sanitized block the
  # machine is busy enough to stall avrboard between the two calls with
  # which it empties the line at an open, and a block's new speed set
  # between them is lost (PtyLink::DiscardUnread).
  CTEST_JOBS=1 isolated_ctest asan "${sanitizers[@]}" -- -R '^avr_hil[.]'
  fuzz_all "${FUZZ_TEST_SECONDS:-5}"
  test_windows
  say "all tests passed that ran. $WINDOWS_LINE"
}
