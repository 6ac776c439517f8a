// Line speeds as plain numbers.  The termios table (serial_speed_posix.h)
// has constants only for the rates the C library names; Linux takes any
// other rate through termios2 and BOTHER, and reports the rate in force as a
// number whichever way it was set.  Apart from <termios.h>, because the
// kernel's header for termios2 defines struct termios a second time.
#pragma once

#include <cstdint>
#include <optional>

namespace arduino {

// Sets the line's speed, in both directions, to `baud_rate` bits per
// second and leaves every other setting as it is.  False where the driver
// refuses it.
bool SetLineRate(int fd, uint32_t baud_rate);

// The line's output speed in bits per second; nothing where it cannot be
// read.
std::optional<uint32_t> LineRate(int fd);

}  // namespace arduino
