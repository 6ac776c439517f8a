// What a UART reads when the other end sends at another speed.  Both ends
// frame every byte as 8N1 (a start bit, eight data bits least significant
// first, a stop bit) and agree on nothing else, so a receiver at the wrong
// speed samples the sender's bits at the wrong moments: it reads other
// bytes, frames whose stop bit is missing, more bytes than were sent when it
// is the faster end, fewer or none when it is the slower one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace boardsim {

// The bytes a receiver set to `read_baud` makes of `sent`, sent back to back
// at `sent_baud` on a line that idles before and after (the wire of
// serial_wire.h); `sent` itself when the two agree.  A frame with a bad
// stop bit reads as a NUL, as Linux gives it in raw mode.
//
// One departure from the wire: now and then a real line turns a reply into
// a digit or a command's first byte by chance (a "1" out of "386" read at
// half the speed).  An emulated board at the wrong speed must be wrong every
// time, or a test of a speed mismatch would pass or fail by the reading, so
// such a byte reads as a framing error too.  Neither end can then ever see
// a number or the start of a command.
std::string ReadAtOtherSpeed(std::string_view sent, int32_t sent_baud, int32_t read_baud);

}  // namespace boardsim
