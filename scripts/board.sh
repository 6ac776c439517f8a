# shellcheck shell=bash
# A boardsim in the background, for the demo and the Wine bench.
# Sourced by ./run, which has already changed into the tree (ROOT).

# Starts a boardsim ($2, with the arguments after it), its stderr going to
# the file $1, and waits up to 10 s for its start-up line, which it leaves in
# BOARD_LINE ("boardsim: listening on udp 127.0.0.1:PORT" or "boardsim:
# serial on PATH -> /dev/pts/N").  board_stop ends it; a board that does not
# start ends the script.
BOARD_PID=""
BOARD_LINE=""
board_start() {
  local log=$1 i
  shift
  "$@" 2>"$log" &
  BOARD_PID=$!
  for i in $(seq 100); do
    if grep -qE 'listening on|serial on' "$log" 2>/dev/null; then
      BOARD_LINE=$(head -n1 "$log")
      return 0
    fi
    kill -0 "$BOARD_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "boardsim did not start:" >&2
  cat "$log" >&2
  board_stop
  exit 1
}

# The UDP port of the board board_start started.
board_port() { sed -n 's/.*:\([0-9]*\)$/\1/p' <<<"$BOARD_LINE"; }

board_stop() {
  if [ -n "$BOARD_PID" ]; then
    kill "$BOARD_PID" 2>/dev/null || true
    wait "$BOARD_PID" 2>/dev/null || true
    BOARD_PID=""
  fi
  return 0
}
