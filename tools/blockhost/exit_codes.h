// Every exit status blockhost gives, in one place: a script tells the
// outcomes apart by them, so a number, once given, keeps its meaning, and a
// new command reuses the ones that fit before it takes a new one.
#pragma once

namespace blockhost {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // bad arguments, unreadable or foreign files
constexpr int kExitLibrary = 2;  // the library failed to load or raised an error

// `check` and `board-address`: how the board answered.
constexpr int kExitNoAnswer = 3;   // the board did not answer within the wait
constexpr int kExitBadAnswer = 4;  // it answered, but not with a number
// `run`, `check` and `board-address`: no such port, or it cannot be opened.
constexpr int kExitPortUnusable = 5;
// `board-address`: what the Ethernet image's setup console made of it.
constexpr int kExitBoardRefused = 6;      // the board refused the address or MAC
constexpr int kExitNotEthernetImage = 7;  // the board answered, but not as the Ethernet image
// `check`: it answers with a number, but only at another of the dialog's
// speeds.
constexpr int kExitWrongSpeed = 8;
// `run`: steps took as long as a board that answers nothing makes them.
constexpr int kExitBoardSilent = 9;
// `configure`: the dialog wrote nothing.
constexpr int kExitCancelled = 10;  // Cancel, the close box, or OK without a change
constexpr int kExitNoDisplay = 11;  // no display to show the dialog on
// `flash`: what kept the image from the board.  A board that was flashed
// but does not answer afterwards gives check's own 3, 4 or 8.
constexpr int kExitNoImage = 12;        // no image for that board and link
constexpr int kExitNoAvrdude = 13;      // no avrdude found, or it would not start
constexpr int kExitWrongChip = 14;      // the chip's signature is not the board's named
constexpr int kExitAvrdudeFailed = 15;  // no bootloader, a failed verify, anything else
// `latency`: why the port's timer was left as it is.
constexpr int kExitNoLatencyTimer = 16;  // the port has none: only FTDI bridges have one
constexpr int kExitNotPermitted = 17;    // changing it needs root or an administrator
// `run` stopped from outside (stop_request.h), as a shell reports a process
// the signal ended: 128 plus its number.
constexpr int kExitInterrupted = 130;  // Ctrl-C (SIGINT; on Windows also Ctrl-Break)
constexpr int kExitTerminated = 143;   // SIGTERM

}  // namespace blockhost
