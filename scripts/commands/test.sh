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

# The i386 build and its tests (tier i386): natively where the kernel runs
# i386 programs, else each program under qemu-i386-static
# (cmake/i386-run.sh, which decides by running the build's probe).  Where
# neither can run them they count as skipped, and I386_LINE says why.
I386_LINE=""
test_i386() {
  say "building and testing build/i386 (the portable core as static 32-bit x86 programs)"
  build_preset i386
  local how
  if how=$(ARDUINO_BLOCK_I386_PROBE="$ROOT/build/i386/tests/i386/i386_probe" cmake/i386-run.sh --how); then
    I386_LINE="i386 tests: run $how"
  else
    I386_LINE="i386 tests skipped: $how"
  fi
  say "$I386_LINE"
  ctest --preset i386 -j2
}

cmd_test() {
  wine_check
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $(windows_packages) $PKGS_FUZZ $PKGS_SOAK $PKGS_DIST \
    $PKGS_NETNS $PKGS_LINT $PKGS_BENCH $PKGS_I386
  ensure_wine
  say "$WINDOWS_LINE"
  ensure_comma_locale
  netns_check
  say "checking the formatting"
  format_check
  test_i386
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
  # Two rows at a time, as in the native run: avrboard empties the line at
  # an open through the terminal's own side, which keeps a speed the block
  # has just set however late it runs (PtyLink::DiscardUnread).
  isolated_ctest asan "${sanitizers[@]}" -- -R '^avr_hil[.]'
  fuzz_all "${FUZZ_TEST_SECONDS:-5}"
  test_windows
  say "all tests passed that ran. $WINDOWS_LINE. $I386_LINE"
}
