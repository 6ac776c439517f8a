# shellcheck shell=bash
# ./run demo: a simulation against the emulated board, with the commands it ran.
# Sourced by ./run, which has already changed into the tree (ROOT).

# The demo's board: outputs 6..8 wired back to inputs 2..4, a sine on A0, a
# ramp on A1, and the PWM level of pin 9 read back on A2.
DEMO_BOARD_ARGS=(--wire 6=2 --wire 7=3 --wire 8=4 --analog A0=sine:400:512:4000
                 --analog A1=ramp:5000 --analog A2=pwm:9)
DEMO_INPUTS=(--input 6=square:0:5:1000 --input 7=square:0:5:2000 --input 8=square:0:5:4000
             --input 9=sine:511.5:511.5:5000)
DEMO_NOTES=(--plot-note "Wiring on the board: pins 6, 7, 8 are wired back to pins 2, 3, 4, so out Pin2..Pin4 follow in Pin6..Pin8."
            --plot-note "A0 reads a sine, A1 a ramp, and A2 the PWM level of pin 9 (in Pin9, 0..1023) coming back.")
# The demo's serial run is at 115200 baud: its eleven exchanges a step
# (three reads, three writes, two for the PWM value, three analog inputs),
# about 110 bytes, take about 120 ms at the firmware's 9600, more than twice
# the 50 ms period.  The pseudo-terminal does
# not pace bytes, so the run stands for a board whose kSerialBaud is 115200.
DEMO_SERIAL_BAUD=115200
DEMO_WORK=""

demo_cleanup() {
  board_stop
  [ -n "$DEMO_WORK" ] && rm -rf "$DEMO_WORK"
  return 0
}

# Prints a command as it can be pasted into a shell; demo_show runs it too.
demo_print() {
  local word line=" " quote="'"
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./:=,+@%-]+$ ]]; then
      line+=" $word"
    else
      line+=" '${word//$quote/$quote\\$quote$quote}'"
    fi
  done
  printf '%s\n' "$line" >&2
}
demo_show() {
  demo_print "$@"
  "$@"
}

cmd_demo() {
  local transport=udp
  case "${1:-}" in
    "") ;;
    --serial) transport=serial ;;
    *) echo "usage: ./run demo [--serial]" >&2; exit 1 ;;
  esac
  ensure_packages $PKGS_NATIVE
  say "building the library, boardsim and blockhost"
  cmake --preset native -DARDUINO_BLOCK_WERROR="$(werror)" >/dev/null
  cmake --build build/native --target arduino_block boardsim blockhost
  DEMO_WORK=$(mktemp -d)
  trap demo_cleanup EXIT
  # The project stays beside demo.csv and demo.svg, so that the commands
  # printed below run again as they are, or changed.
  local host=build/native/blockhost project=demo.project
  rm -f "$project"
  say "the commands the demo runs, to run again or change (the board in the background):"
  if [ "$transport" = udp ]; then
    board_start "$DEMO_WORK/boardsim.err" build/native/boardsim --udp 127.0.0.1:0 \
      "${DEMO_BOARD_ARGS[@]}"
    local port
    port=$(board_port)
    printf '%s &\n' "$(demo_print build/native/boardsim --udp "127.0.0.1:$port" \
      "${DEMO_BOARD_ARGS[@]}" 2>&1)" >&2
    demo_show "$host" set --project "$project" interface=ethernet address=127.0.0.1 \
      udpport="$port" pin9=pwm pin5=unused a3=unused a4=unused a5=unused >/dev/null
  else
    local tty=build/native/demo-tty
    board_start "$DEMO_WORK/boardsim.err" build/native/boardsim --pty "$tty" \
      "${DEMO_BOARD_ARGS[@]}"
    printf '%s &\n' "$(demo_print build/native/boardsim --pty "$tty" "${DEMO_BOARD_ARGS[@]}" 2>&1)" >&2
    demo_print export ARDUINO_BLOCK_COM5="$tty"
    export ARDUINO_BLOCK_COM5=$tty
    demo_show "$host" set --project "$project" interface=usb comport=5 baud=$DEMO_SERIAL_BAUD \
      pin9=pwm pin5=unused a3=unused a4=unused a5=unused >/dev/null
  fi
  demo_show "$host" run --project "$project" --steps 200 --period-ms 50 "${DEMO_INPUTS[@]}" \
    "${DEMO_NOTES[@]}" --csv demo.csv --plot demo.svg
}
