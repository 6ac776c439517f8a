// Cuts the serial byte stream into commands.  The block writes each command
// as five bytes with no terminator, so commands are framed by length alone.
//
// Resynchronisation rules, which keep one burst of line noise from shifting
// every later command:
//  1. While waiting for a command to start, any byte that cannot begin one
//     (anything but '!', '?', 'p' or 'w') is dropped.  This also swallows a
//     CR or LF sent by a terminal.
//  2. Inside a command, a start byte where no valid command can have it ends
//     the command early: the short command is handed on, so it still earns
//     an "ERR ..." reply, and the start byte begins the next command.  Only
//     '?' as the last byte of a read and 'w' after the 'p' of "pwm" are
//     allowed.  So a stray '?' or 'w' costs one error reply, not the framing
//     of every command after it.
//  3. Any other byte completes the command once it has five, whatever the
//     bytes are, so a malformed command gets its error reply too.
//  4. A started command that sees no byte for stale_ms is abandoned when the
//     next byte arrives, which is then treated as a possible start.  The
//     block writes all five bytes at once, so such a gap means the rest of
//     the command was lost (a reopened port, a reset block).
#pragma once

#include <stdint.h>

#include "board_protocol.h"

namespace board {

class SerialFramer {
 public:
  static const uint16_t kDefaultStaleMs = 250;

  // stale_ms == 0 turns rule 4 off.
  explicit SerialFramer(uint16_t stale_ms = kDefaultStaleMs);

  // Feeds one received byte at time now_ms (any free-running millisecond
  // counter; wrap-around is harmless).  Returns true when a command is
  // complete, which command() and length() then describe until the next Feed.
  bool Feed(char byte, uint32_t now_ms);

  // The completed command, NUL-terminated.  Normally kCommandLength bytes;
  // shorter when rule 2 cut it off.
  const char* command() const { return command_; }
  uint8_t length() const { return command_length_; }

  // The analog input (14..19) that the command being received reads, from
  // the moment its pin field is in until the next Feed; kNoPin at any other
  // time.
  // The command's last two bytes take longer on the wire than a conversion
  // takes the ADC (two byte times are 174 us at 115200 baud, a conversion
  // 104 us), so a board that starts converting here has the reading ready
  // when the command is complete.
  uint8_t AnalogReadAhead() const;

  // Bytes thrown away by rules 1 and 4 since construction.
  uint32_t dropped() const { return dropped_; }

  // Forgets any partial command, e.g. when the port is reopened.
  void Reset();

 private:
  static bool CanStartCommand(char byte);
  bool FitsAt(char byte, uint8_t position) const;
  void Complete();

  uint16_t stale_ms_;
  char partial_[kCommandLength];
  uint8_t count_;
  char command_[kCommandLength + 1];
  uint8_t command_length_;
  uint32_t last_byte_ms_;
  uint32_t dropped_;
};

}  // namespace board
