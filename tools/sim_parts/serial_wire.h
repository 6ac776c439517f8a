// The serial line between the block's terminal and the chip's UART when the
// two ends run at different speeds.  A UART receiver times each bit by its
// own rate from the falling edge of the start bit; at another sender's rate
// it samples the wrong bits, misses stop bits (framing errors) and splits or
// merges frames.  Both emulated boards pass bytes through untouched while
// the rates agree, and otherwise run them through this model of the wire.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace boardsim {

// The rates a receiver still reads cleanly: the usual limit for 8N1 frames,
// which a 16 MHz AVR at 115200 baud (117647, 2.1 % off) stays within.
constexpr double kBaudTolerance = 0.03;

bool RatesAgree(double sender_baud, double receiver_baud);

// The rate a UART with the given UBRR and U2X runs at off a clk_hz clock.
double UartBaud(uint32_t clk_hz, uint16_t ubrr, bool double_speed);

// One 8N1 frame on the wire: idle high, start bit low, eight data bits
// least significant first, stop bit high.
struct SentFrame {
  uint8_t byte;
  double start_s;  // when its start bit begins; frames never overlap
};

struct ReceivedByte {
  uint8_t byte;
  bool framing_error;  // the stop bit read low
  bool operator==(const ReceivedByte&) const = default;
};

// What a receiver at receiver_baud reads of `frames`, sent at sender_baud
// in order of start_s onto a line that was idle long before and stays idle
// after them until the receiver has finished any frame it began.  The
// receiver catches each falling edge the moment it comes, samples the
// middle of every bit from there, and a sample that falls on the boundary
// between two of the sender's bits reads the later one; so the bytes depend
// only on the rates and the frames' spacing, never on rounding.
std::vector<ReceivedByte> ReceiveFrames(const std::vector<SentFrame>& frames, double sender_baud,
                                        double receiver_baud);

// The same for bytes sent back to back, as a write of a whole command is.
std::vector<ReceivedByte> ReceiveBurst(std::string_view bytes, double sender_baud,
                                       double receiver_baud);

// The bytes a Linux terminal in raw mode hands a program for what its UART
// received: a byte with a framing error comes as NUL.
std::string AsTerminalReads(const std::vector<ReceivedByte>& received);
// The bytes an AVR's UART hands the firmware: the Arduino core takes UDRn
// whatever its framing-error flag says.
std::string AsFirmwareReads(const std::vector<ReceivedByte>& received);

}  // namespace boardsim
