# shellcheck shell=bash
# ./run dist: the release archives, built twice and checked.
# Sourced by ./run, which has already changed into the tree (ROOT).

# Everything a release holds, built from scratch in $1: the module and the
# tools, the Windows DLL and blockhost.exe, both firmware images.  The code
# is optimised as in the tested builds (RelWithDebInfo); the linker strips
# the debugging information (ARDUINO_BLOCK_REPRODUCIBLE).
dist_build() {
  local dir=$1 common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARDUINO_BLOCK_TESTS=OFF
                       -DARDUINO_BLOCK_REPRODUCIBLE=ON -DARDUINO_BLOCK_WERROR="$(werror)")
  rm -rf "$dir"
  cmake -S . -B "$dir/native" "${common[@]}" >/dev/null
  cmake --build "$dir/native" --target arduino_block blockhost boardsim avrboard
  cmake -S . -B "$dir/win32" --toolchain cmake/toolchain-i686-w64-mingw32.cmake "${common[@]}" >/dev/null
  cmake --build "$dir/win32" --target arduino_block blockhost
  ARDUINO_BLOCK_FIRMWARE_OUT="$dir/firmware" firmware/build.sh
}

dist_pack() {
  packaging/pack.sh --version "$1" --native "$2/native" --win32 "$2/win32" --firmware "$2/firmware" \
    --out "$3" >/dev/null
}

# Builds the release archives into dist/ from scratch, checks them as a user
# meets them, then builds everything again in another folder and insists on
# the same bytes.  DIST_SKIP_REBUILD=1 leaves out the second build.
cmd_dist() {
  wine_check
  ensure_packages $PKGS_NATIVE $PKGS_FIRMWARE $(windows_packages) $PKGS_DIST $PKGS_NETNS
  ensure_wine
  # The archive checks run blocks, which bind UDP port 1600: in a namespace
  # of their own a test run or a bench beside them cannot take it.
  netns_check
  local started=$SECONDS version
  version=$(cmake/version.sh)
  export ARDUINO_BLOCK_DIST_VERSION=$version
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  export SOURCE_DATE_EPOCH
  # Wine in a prefix of its own: a program starting while another run's last
  # program in a shared prefix takes the Wine server down can find no desktop.
  export WINEPREFIX=$ROOT/build/dist/wineprefix
  case "$version" in
    *-dirty) say "the tree has uncommitted changes: this build is $version, not a commit's" ;;
  esac
  say "building $version from scratch in build/dist/one"
  dist_build build/dist/one
  rm -rf dist
  dist_pack "$version" build/dist/one dist

  say "checking the archives"
  cmake --preset native -DARDUINO_BLOCK_WERROR="$(werror)" >/dev/null
  cmake --build build/native --target dll_version_test >/dev/null
  local check status
  local said
  for check in contents linux-run windows-run no-build-paths; do
    status=0
    said=$(DLL_VERSION_TEST=build/native/tests/dist/dll_version_test BUILD_FOLDERS="$ROOT/build/dist/one" \
      isolated tests/dist/archives.sh "$check" dist "$version") || status=$?
    case $status in
      0) echo "  $check: ok" ;;
      # The archive holds the 32-bit product, which only 32-bit Wine runs.
      77) echo "  $check: $(tail -n 1 <<<"$said")" ;;
      *) exit 1 ;;
    esac
  done
  # The firmware's ELF images do not ship, but avrboard runs them.
  tests/dist/no_build_paths.sh "$ROOT/build/dist/one" build/dist/one/firmware/*/arduino_block-*.elf
  echo "  the firmware's ELF images name no build folder"

  if [ "${DIST_SKIP_REBUILD:-0}" = 0 ]; then
    say "building again in build/dist/two: the archives must come out byte for byte the same"
    dist_build build/dist/two >/dev/null
    dist_pack "$version" build/dist/two build/dist/two/out
    local archive
    for archive in "arduino-block-$version-windows-x86.zip" "arduino-block-$version-linux-x86_64.tar.gz"; do
      if ! cmp -s "dist/$archive" "build/dist/two/out/$archive"; then
        echo "$archive differs between two builds of the same commit:" >&2
        diff <(cd build/dist/one && find native win32 firmware -type f \( -name '*.so' -o -name '*.dll' \
                 -o -name '*.exe' -o -name '*.hex' -o -perm -u+x \) -exec sha256sum {} + | sort -k2) \
             <(cd build/dist/two && find native win32 firmware -type f \( -name '*.so' -o -name '*.dll' \
                 -o -name '*.exe' -o -name '*.hex' -o -perm -u+x \) -exec sha256sum {} + | sort -k2) >&2 || true
        exit 1
      fi
    done
    echo "  both archives are byte for byte the same"
  fi
  say "dist/ after $((SECONDS - started)) s:"
  (cd dist && ls -l -- *.zip *.tar.gz SHA256SUMS)
}
