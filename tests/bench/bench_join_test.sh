#!/usr/bin/env bash
# ./run bench's joining of the benches' reports into benchmarks.md and
# benchmarks.json: every report that ran is in both, in its place, a bench
# that did not run is null, and a report cut short fails the join instead of
# leaving a file no reader can parse.
set -euo pipefail
command -v jq >/dev/null || { echo "skipped: no jq on this machine (apt-get install jq)"; exit 77; }
cd "$(dirname "$0")/../.."
ROOT=$PWD
source tests/script_helpers.sh
source scripts/packages.sh
source scripts/commands/bench.sh

scratch_folder bench-join

# report DIR BENCH: a report of its own for each bench, so that a bench in the
# wrong place shows.
report() {
  printf 'figures of %s\n' "$2" >"$1/$2.md"
  printf '{"bench": "%s", "median": 5.005, "p99": 10.98}\n' "$2" >"$1/$2.json"
}

# Each row: the benches that ran besides native (none), then the benches
# expected to be null (-: none).
while read -r ran nulls; do
  out=$work/${ran//,/-}
  mkdir -p "$out"
  report "$out" native
  for bench in ${ran//,/ }; do
    [ "$bench" = none ] || report "$out" "$bench"
  done
  bench_join "$out"
  keys=$(jq -r 'keys_unsorted | join(",")' "$out/benchmarks.json")
  [ "$keys" = native,turnaround,wire,bridge,wine ] || fail "$ran: keys $keys"
  for bench in native ${ran//,/ }; do
    [ "$bench" = none ] && continue
    got=$(jq -r ".$bench.bench, .$bench.median" "$out/benchmarks.json" | tr '\n' ' ')
    [ "$got" = "$bench 5.005 " ] || fail "$ran: $bench holds $got"
    grep -qx "figures of $bench" "$out/benchmarks.md" || fail "$ran: benchmarks.md lacks $bench"
  done
  for bench in ${nulls//,/ }; do
    [ "$bench" = - ] && continue
    [ "$(jq ".$bench" "$out/benchmarks.json")" = null ] || fail "$ran: $bench is not null"
    if grep -q "figures of $bench" "$out/benchmarks.md"; then fail "$ran: benchmarks.md has $bench"; fi
  done
  # The notes come after every figure.
  tail -n "$(wc -l <docs/benchmarks-context.md)" "$out/benchmarks.md" | cmp -s - docs/benchmarks-context.md ||
    fail "$ran: benchmarks.md does not end with docs/benchmarks-context.md"
done <<'ROWS'
none turnaround,wire,bridge,wine
wine turnaround,wire,bridge
turnaround,wire wine,bridge
bridge turnaround,wire,wine
turnaround,wire,bridge,wine -
ROWS

# The sections stand in the order the page reads them.
order=$(grep -n '^figures of' "$work/turnaround-wire-bridge-wine/benchmarks.md" | cut -d' ' -f3 | tr '\n' ' ')
[ "$order" = "native turnaround wire bridge wine " ] || fail "sections in the order $order"

# A report cut short.
out=$work/broken
mkdir -p "$out"
report "$out" native
report "$out" wire
printf '{"bench": "wire", "median":' >"$out/wire.json"
if (bench_join "$out") 2>"$work/broken.err"; then fail "a cut-short wire.json was joined"; fi
grep -q wire.json "$work/broken.err" || fail "the error does not name wire.json: $(cat "$work/broken.err")"
echo "bench_join: all rows passed"
