# shellcheck shell=bash
# ./run build: the library and the tools, natively and for 32-bit Windows.
# Sourced by ./run, which has already changed into the tree (ROOT).

cmd_build() {
  wine_check
  ensure_packages $PKGS_NATIVE $PKGS_WIN32
  say "building build/native"
  build_preset native
  say "building build/win32 (cross build for 32-bit Windows)"
  build_preset win32
  echo "module: build/native/arduino_block.so"
  echo "DLL:    build/win32/ArduinoBlock.dll"
  echo "        build/win32/blockhost.exe (blockhost for Windows)"
}
