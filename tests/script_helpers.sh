# shellcheck shell=bash
# What the test scripts share, sourced after `set -euo pipefail`:
#
#   fail MESSAGE...         says FAIL: MESSAGE on stderr and ends the script
#   scratch_folder NAME     makes a scratch folder under $TMPDIR (or /tmp)
#                           in `work`, removed when the script ends with
#                           whatever board it started: a script that starts
#                           one in the background keeps its pid in board_pid,
#                           and board_signal says how to stop it (TERM unless
#                           set otherwise).

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

board_pid=""
board_signal=TERM
_scratch_cleanup() {
  if [ -n "$board_pid" ]; then
    kill -"$board_signal" "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}

scratch_folder() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || fail "no scratch folder under ${TMPDIR:-/tmp}"
  trap _scratch_cleanup EXIT
}
