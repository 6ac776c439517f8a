// termios names a line speed by a constant of its own (B9600 is not 9600),
// and the kernel knows only the rates it has constants for.  The block's
// port, blockhost's board port and the emulated boards all translate through
// this one table.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace arduino {

// The constant for `baud_rate`; B0 for a rate termios has none for.
speed_t SpeedConstant(int32_t baud_rate);

// The baud rate a constant stands for; nothing for B0 (which hangs up the
// line rather than setting a speed) and for constants outside the table.
std::optional<int32_t> BaudRateOf(speed_t speed);

}  // namespace arduino
