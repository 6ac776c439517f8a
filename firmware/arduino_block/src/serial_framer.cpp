#include "serial_framer.h"

#include <string.h>

namespace board {

SerialFramer::SerialFramer(uint16_t stale_ms)
    : stale_ms_(stale_ms), count_(0), command_length_(0), last_byte_ms_(0), dropped_(0) {
  command_[0] = '\0';
}

bool SerialFramer::CanStartCommand(char byte) {
  return byte == '!' || byte == '?' || byte == 'p' || byte == 'w';
}

bool SerialFramer::FitsAt(char byte, uint8_t position) const {
  if (!CanStartCommand(byte)) return true;
  return (byte == '?' && partial_[0] == '?' && position == kCommandLength - 1) ||
         (byte == 'w' && partial_[0] == 'p' && position == 1);
}

void SerialFramer::Reset() { count_ = 0; }

uint8_t SerialFramer::AnalogReadAhead() const {
  // "?NNs?": the pin field is bytes 1 and 2.
  if (count_ != 3 || partial_[0] != '?') return kNoPin;
  const uint8_t pin = ParsePin(partial_ + 1);
  return IsAnalogPin(pin) ? pin : kNoPin;
}

void SerialFramer::Complete() {
  memcpy(command_, partial_, count_);
  command_[count_] = '\0';
  command_length_ = count_;
  count_ = 0;
}

bool SerialFramer::Feed(char byte, uint32_t now_ms) {
  // Unsigned subtraction keeps the age right across the counter's wrap.
  if (count_ > 0 && stale_ms_ != 0 && now_ms - last_byte_ms_ >= stale_ms_) {
    dropped_ += count_;
    count_ = 0;
  }
  last_byte_ms_ = now_ms;

  if (count_ == 0) {
    if (!CanStartCommand(byte)) {
      ++dropped_;
      return false;
    }
    partial_[count_++] = byte;
    return false;
  }
  if (!FitsAt(byte, count_)) {
    Complete();
    partial_[count_++] = byte;
    return true;
  }
  partial_[count_++] = byte;
  if (count_ < kCommandLength) return false;
  Complete();
  return true;
}

}  // namespace board
