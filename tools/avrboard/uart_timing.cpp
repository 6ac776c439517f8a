#include "uart_timing.h"

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

void HeldOutput::Add(const std::string& bytes, const std::vector<uint64_t>& cycles,
                     uint64_t frame_cycles) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint64_t sent = i < cycles.size() ? cycles[i] : 0;
    held_.push_back({bytes[i], sent, sent + frame_cycles});
  }
}

std::string HeldOutput::TakeDone(uint64_t now_cycle, std::vector<uint64_t>* cycles) {
  std::string done;
  cycles->clear();
  // Frames leave one after the other, so the first held is the first done.
  while (!held_.empty() && held_.front().done_cycle <= now_cycle) {
    done += held_.front().byte;
    cycles->push_back(held_.front().sent_cycle);
    held_.pop_front();
  }
  return done;
}

std::optional<uint64_t> HeldOutput::NextDone() const {
  if (held_.empty()) return std::nullopt;
  return held_.front().done_cycle;
}

}  // namespace avrboard
