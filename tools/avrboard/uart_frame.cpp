#include "uart_frame.h"

namespace avrboard {
namespace {

constexpr uint8_t kUcsz2 = 0x04;        // UCSRnB
constexpr uint8_t kUpmMask = 0x30;      // UCSRnC
constexpr uint8_t kUsbs = 0x08;         // UCSRnC
constexpr uint8_t kUcszLowMask = 0x06;  // UCSRnC

}  // namespace

int UartFrameBits(uint8_t ucsrb, uint8_t ucsrc) {
  static constexpr int kDataBits[8] = {5, 6, 7, 8, 8, 8, 8, 9};
  const int size = ((ucsrc & kUcszLowMask) >> 1) | ((ucsrb & kUcsz2) ? 4 : 0);
  const int parity = (ucsrc & kUpmMask) ? 1 : 0;
  const int stops = (ucsrc & kUsbs) ? 2 : 1;
  return 1 + kDataBits[size] + parity + stops;
}

uint64_t UartFrameCycles(uint16_t ubrr, bool double_speed, uint8_t ucsrb, uint8_t ucsrc) {
  const uint64_t cycles_per_bit = (static_cast<uint64_t>(ubrr) + 1) * (double_speed ? 8 : 16);
  return cycles_per_bit * static_cast<uint64_t>(UartFrameBits(ucsrb, ucsrc));
}

}  // namespace avrboard
