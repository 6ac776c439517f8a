#!/usr/bin/env bash
# What README.md, docs/ and the archives' READMEs promise about the firmware
# images, the simulated Ethernet board and the settings dialog, held
# against what the build does.
#
#   tests/docs/docs_match_build.sh image-names
#   tests/docs/docs_match_build.sh ethernet-journey AVRBOARD BLOCKHOST
#   tests/docs/docs_match_build.sh dialog-com-port BLOCKHOST
#   tests/docs/docs_match_build.sh exit-codes
#
# image-names: every image path the pages name is one firmware/build.sh
# writes (the build tree and the archives name them alike), the number of
# images the pages give is the number it builds with and without the
# Ethernet library, and no test, bench or script looks for an image under
# another name.
# ethernet-journey: runs the commands of docs/firmware.md's "The same
# journey in simulation" as they stand (paths moved to a scratch folder) and
# finds each line of output shown there.  Exit 77 when avrboard, blockhost
# or the image was not built.
# dialog-com-port: beside the dialog's screenshots README says what typing
# COM7 into the dialog does, while `blockhost set` takes COM7 as it says.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
cd "$root"
# shellcheck source=tests/script_helpers.sh
source "$root/tests/script_helpers.sh"

scratch_folder docs-match-build
# avrboard stops cleanly on Ctrl-C, as the worked example stops it.
board_signal=INT

# The number a page writes as a word.
number_of() {
  case "$1" in
    eight) echo 8 ;;
    ten) echo 10 ;;
    *) echo "$1" ;;
  esac
}

case_image_names() {
  # --list checks the names and builds nothing; a folder with the library's
  # header is all it needs to count the Ethernet images in.
  mkdir -p "$work/Ethernet/src"
  touch "$work/Ethernet/src/Ethernet.h"
  local all without
  all=$(ARDUINO_ETHERNET_LIBRARY=$work/Ethernet firmware/build.sh --list | sed 's|^build/||' | sort)
  without=$(ARDUINO_ETHERNET_LIBRARY=$work/none firmware/build.sh --list 2>/dev/null | sed 's|^build/||' | sort)
  [ "$(wc -l <<<"$all")" -gt "$(wc -l <<<"$without")" ] ||
    fail "firmware/build.sh --list counts no Ethernet images: $all"

  local said
  said=$(grep -o '^`firmware/build.sh` builds [a-z0-9]* images' docs/firmware.md | awk '{print $3}')
  [ -n "$said" ] || fail "docs/firmware.md does not say how many images firmware/build.sh builds"
  [ "$(number_of "$said")" = "$(wc -l <<<"$all")" ] ||
    fail "docs/firmware.md says firmware/build.sh builds $said images; it builds $(wc -l <<<"$all")"
  said=$(grep -o 'Without it `firmware/build.sh` builds [a-z0-9]* images' docs/firmware.md | awk '{print $5}')
  [ -n "$said" ] || fail "docs/firmware.md does not say how many images are built without the library"
  [ "$(number_of "$said")" = "$(wc -l <<<"$without")" ] ||
    fail "docs/firmware.md says $said images without the library; firmware/build.sh builds $(wc -l <<<"$without")"

  # The archives' table lists exactly the images the build writes.
  local table
  table=$(grep -o '^| `firmware/[^`]*\.hex`' docs/firmware.md | sed 's/^| `//; s/`$//' |
    while read -r path; do
      for baud in 9600 19200 38400 115200; do echo "${path//<baud>/$baud}"; done
    done | sort -u)
  [ "$table" = "$all" ] ||
    fail "docs/firmware.md's table of images differs from what firmware/build.sh writes:
$(diff <(echo "$table") <(echo "$all") || true)"

  # Every image path on the pages, placeholders expanded, is one of them.
  local file mention expanded bad=""
  for file in README.md docs/*.md packaging/*.txt; do
    while read -r mention; do
      mention=${mention//\\//}
      mention=${mention#build/}
      for board in uno mega2560; do
        for suffix in 9600 19200 38400 115200 ethernet; do
          expanded=${mention//<board>/$board}
          expanded=${expanded//<baud>/$suffix}
          expanded=${expanded//\{elf,hex\}/hex}
          expanded=${expanded%.elf}
          expanded=${expanded%.hex}.hex
          # A placeholder for the speed never stands for the Ethernet image.
          [[ $mention == *"<baud>"* && $suffix == ethernet ]] && continue
          grep -qxF "$expanded" <<<"$all" || bad+="$file: $mention"$'\n'
          [[ $mention == *"<"* ]] || break 2
        done
      done
    done < <(grep -oE '(build/)?firmware[/\\]+(uno|mega2560|<board>)[/\\]+arduino_block[-.A-Za-z0-9<>{},]*' "$file" |
      sed 's/[.,]$//' || true)
  done
  [ -z "$bad" ] || fail "pages name images firmware/build.sh does not write:
$(sort -u <<<"$bad")"

  # The images' old names, <image>/arduino_block.{elf,hex}, are gone from
  # everything that looks for them.
  local old
  old=$(grep -rnE 'arduino_block\.(elf|hex)' README.md docs packaging run scripts bench tests tools firmware/build.sh |
    grep -v '^tests/docs/' || true)
  [ -z "$old" ] || fail "images looked for under their old names:
$old"
  echo "ok: the pages name the $(wc -l <<<"$all") images firmware/build.sh writes, as it names them"
}

# The lines of the fenced block under `heading` in docs/firmware.md.
block_under() {
  awk -v heading="$1" '
    $0 == heading { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' docs/firmware.md
}

case_ethernet_journey() {
  local avrboard=$1 blockhost=$2
  local image=build/firmware/uno/arduino_block-ethernet.elf
  for needed in "$avrboard" "$blockhost" "$image"; do
    [ -e "$needed" ] || { echo "skipped: no $needed"; exit 77; }
  done
  # The commands run in the scratch folder.
  avrboard=$(realpath "$avrboard") blockhost=$(realpath "$blockhost")
  local block
  block=$(block_under '### The same journey in simulation')
  [ -n "$block" ] || fail "docs/firmware.md has no worked example under 'The same journey in simulation'"

  # Commands (a "$ " line and its continuations) and the output shown.
  local commands=() shown=() line command=""
  while IFS= read -r line; do
    if [ -n "$command" ]; then
      command+=" ${line#"${line%%[![:space:]]*}"}"
    elif [[ $line == '$ '* ]]; then
      command=${line#'$ '}
    else
      shown+=("$line")
      continue
    fi
    if [[ $command == *\\ ]]; then
      command=${command%\\}
    else
      commands+=("$command")
      command=""
    fi
  done <<<"$block"
  [ ${#commands[@]} -ge 3 ] || fail "the worked example holds ${#commands[@]} command(s)"

  # Nothing of it may send beyond this machine.
  local address
  for command in "${commands[@]}"; do
    for address in $(grep -oE '(--address|address=|--ethernet|--udp) *[0-9.]+' <<<"$command" |
      grep -oE '[0-9]+(\.[0-9]+){3}'); do
      [[ $address == 127.* ]] || fail "the worked example sends to $address: $command"
    done
  done

  # The example's paths, moved: the programs under test, the image built in
  # this tree, a scratch folder for /tmp.  The example's /tmp goes first:
  # the paths put in after it may lie under /tmp themselves (a tree checked
  # out there), and must be left as they are.
  relocate() {
    sed -e "s|/tmp/|$work/|g" -e "s|build/native/avrboard|$avrboard|g" \
      -e "s|build/native/blockhost|$blockhost|g" -e "s|build/firmware/|$root/build/firmware/|g"
  }
  local said=$work/said.log index=0
  : >"$said"
  cd "$work"
  for command in "${commands[@]}"; do
    command=$(relocate <<<"$command")
    index=$((index + 1))
    if [[ $command == *'&' ]]; then
      eval "${command%&} 2>$work/board.log &"
      board_pid=$!
      for _ in $(seq 200); do
        grep -q 'avrboard: ready' "$work/board.log" 2>/dev/null && break
        sleep 0.1
      done
      grep -q 'avrboard: ready' "$work/board.log" || fail "avrboard did not start: $(cat "$work/board.log")"
      continue
    fi
    eval "$command" >>"$said" 2>&1 || fail "command $index of the worked example failed: $command
$(cat "$said")"
  done
  cd "$root"
  [ -n "$board_pid" ] || fail "the worked example starts no avrboard in the background"
  kill -INT "$board_pid"
  wait "$board_pid" || fail "avrboard did not stop cleanly: $(cat "$work/board.log")"
  board_pid=""
  cat "$work/board.log" >>"$said"

  # Each line shown is said, up to what changes from run to run: the
  # pseudo-terminal's number and the time an answer took.
  local missing=""
  normal() { sed -E 's|/dev/pts/[0-9]+|/dev/pts/N|; s|in [0-9.]+ ms$|in T ms|; s|\(pid [0-9]+\)|(pid N)|'; }
  normal <"$said" >"$work/said.normal"
  for line in "${shown[@]}"; do
    line=$(relocate <<<"$line" | normal)
    grep -qxF -- "$line" "$work/said.normal" || missing+="$line"$'\n'
  done
  [ -z "$missing" ] || fail "lines the worked example shows that the programs did not say:
$missing
what they said:
$(cat "$said")"
  echo "ok: docs/firmware.md's journey in simulation runs as written (${#commands[@]} commands)"
}

case_dialog_com_port() {
  local blockhost=$1
  [ -x "$blockhost" ] || { echo "skipped: no $blockhost"; exit 77; }
  # The paragraph after the screenshots' table.
  local beside
  beside=$(awk '/docs\/dialog-gtk.png/ { found = 1; next }
    found && /^$/ { if (started) exit; next }
    found { started = 1; print }' README.md)
  [[ $beside == *"comport=COM7"* ]] || fail "README does not say beside the screenshots that set takes COM7: $beside"
  [[ $beside == *"does not move the spin buttons"* && $beside == *"last position"* ]] ||
    fail "README does not say beside the screenshots what the dialog does with COM7: $beside"
  "$blockhost" set --project "$work/com7.prj" comport=COM7 >/dev/null
  "$blockhost" show --project "$work/com7.prj" | grep -qE '^comport +7$' ||
    fail "blockhost set comport=COM7 did not store 7"
  echo "ok: README says what the dialog and set do with COM7"
}

# exit-codes: README's exit-status table has a row for every status
# blockhost gives (tools/blockhost/exit_codes.h), and no other.
case_exit_codes() {
  local given table
  given=$(sed -nE 's/^constexpr int kExit[A-Za-z]+ = ([0-9]+);.*/\1/p' tools/blockhost/exit_codes.h |
    sort -n | tr '\n' ' ')
  table=$(awk '/^Exit status:/ { found = 1; next }
    found && /^\| [0-9]+ \|/ { print $2; next }
    found && /^$/ && rows++ { exit }' README.md | sort -n | tr '\n' ' ')
  [ -n "$given" ] || fail "no exit statuses found in tools/blockhost/exit_codes.h"
  [ "$given" = "$table" ] ||
    fail "README's exit-status table has rows for ${table:-nothing}; blockhost gives $given"
  echo "ok: README's exit-status table has a row for each of blockhost's statuses ($given)"
}

case "${1:-}" in
  exit-codes) case_exit_codes ;;
  image-names) case_image_names ;;
  ethernet-journey) case_ethernet_journey "$2" "$3" ;;
  dialog-com-port) case_dialog_com_port "$2" ;;
  *) fail "usage: $0 exit-codes | image-names | ethernet-journey AVRBOARD BLOCKHOST | dialog-com-port BLOCKHOST" ;;
esac
