# shellcheck shell=bash
# ./run fuzz, and the short fuzzing of ./run test.
# Sourced by ./run, which has already changed into the tree (ROOT).

FUZZERS="integer decimal settings_block udp_receive serial_reply board_command"

# Runs every libFuzzer target for the given seconds from its committed seed
# corpus (new inputs go to a scratch copy, the committed seeds stay as they
# are); a finding leaves its input under build/fuzz/findings and fails.
fuzz_all() {
  local seconds=$1 name log corpus
  ensure_packages $PKGS_FUZZ
  say "building the fuzzers (clang, libFuzzer, sanitizers)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target $(for name in $FUZZERS; do printf 'fuzz_%s ' "$name"; done)
  mkdir -p build/fuzz/findings
  for name in $FUZZERS; do
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    cp -n fuzz/corpus/$name/* "$corpus"/ 2>/dev/null || true
    log=build/fuzz/$name.log
    if ! build/fuzz/fuzz/fuzz_$name -max_total_time="$seconds" -max_len=4096 \
        -artifact_prefix=build/fuzz/findings/$name- "$corpus" >"$log" 2>&1; then
      tail -n 30 "$log" >&2
      echo "fuzzer $name found a failure; its input is in build/fuzz/findings/" >&2
      exit 1
    fi
    printf '  %-15s %s\n' "$name" "$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n1)s, no findings"
  done
}

cmd_fuzz() {
  fuzz_all "${1:-60}"
}
