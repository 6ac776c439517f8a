// Parses one command of the block's ASCII command set, applies it to the
// board and writes the reply text.  Written for the smallest boards too: no
// heap, no exceptions, no standard library beyond the C headers, C++11.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "board_pins.h"

namespace board {

// Every command of the set is exactly this long.
const uint8_t kCommandLength = 5;

// Room for the longest reply plus its terminating NUL.  Replies never carry
// a line end; the serial side appends one itself.
const uint8_t kReplyCapacity = 24;

struct Reply {
  char text[kReplyCapacity];
  uint8_t length;
};

// No pin: what ParsePin gives for a field naming none the protocol touches.
const uint8_t kNoPin = 0;

// Reads the two-digit pin field at `text`.  Returns kNoPin for anything but
// the pins the protocol may touch: 2..9 and the analog inputs 14..19.
uint8_t ParsePin(const char* text);
bool IsAnalogPin(uint8_t pin);

class BoardProtocol {
 public:
  explicit BoardProtocol(BoardPins& pins);

  // Handles one command of `length` bytes (not NUL-terminated) and fills
  // `reply`.  Every command gets exactly one reply, an "ERR ..." one when it
  // is malformed, and a malformed command changes nothing on the board.
  void Handle(const char* command, size_t length, Reply* reply);

  // The pin the next "w" command writes, or 0 while none has been selected.
  uint8_t selected_pwm_pin() const { return pwm_pin_; }

 private:
  void HandleSet(const char* command, Reply* reply);
  void HandleRead(const char* command, Reply* reply);
  void HandleSelectPwm(const char* command, Reply* reply);
  void HandleWritePwm(const char* command, Reply* reply);

  BoardPins& pins_;
  uint8_t pwm_pin_;
};

}  // namespace board
