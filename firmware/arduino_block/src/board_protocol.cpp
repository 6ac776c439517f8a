#include "board_protocol.h"

#include <string.h>

namespace board {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SetReply(Reply* reply, const char* text) {
  size_t length = strlen(text);
  if (length >= kReplyCapacity) length = kReplyCapacity - 1;
  memcpy(reply->text, text, length);
  reply->text[length] = '\0';
  reply->length = static_cast<uint8_t>(length);
}

void SetNumberReply(Reply* reply, uint16_t value) {
  // Each digit by subtracting its power of ten: the AVR has no divider, and
  // a division by ten in software costs some 200 cycles a digit, half of an
  // analog read's time on the line at 115200 baud.  printf would cost more
  // flash than the whole protocol.
  static const uint16_t kPowers[] = {10000, 1000, 100, 10, 1};
  char digits[6];
  uint8_t length = 0;
  for (uint8_t i = 0; i < sizeof(kPowers) / sizeof(kPowers[0]); ++i) {
    char digit = '0';
    while (value >= kPowers[i]) {
      value = static_cast<uint16_t>(value - kPowers[i]);
      ++digit;
    }
    // Leading zeros are left out, but a value of 0 keeps its one digit.
    if (digit != '0' || length > 0 || kPowers[i] == 1) digits[length++] = digit;
  }
  digits[length] = '\0';
  SetReply(reply, digits);
}

}  // namespace

uint8_t ParsePin(const char* text) {
  if (!IsDigit(text[0]) || !IsDigit(text[1])) return kNoPin;
  uint8_t pin = static_cast<uint8_t>((text[0] - '0') * 10 + (text[1] - '0'));
  if ((pin >= 2 && pin <= 9) || (pin >= kFirstAnalogPin && pin < kPinCount)) return pin;
  return kNoPin;
}

bool IsAnalogPin(uint8_t pin) { return pin >= kFirstAnalogPin && pin < kPinCount; }

BoardProtocol::BoardProtocol(BoardPins& pins) : pins_(pins), pwm_pin_(kNoPin) {}

void BoardProtocol::Handle(const char* command, size_t length, Reply* reply) {
  // A single trailing line end is forgiven so that a person can drive the
  // board by hand with netcat or a terminal; the block itself never sends one.
  if (length > 0 && command[length - 1] == '\n') --length;
  if (length > 0 && command[length - 1] == '\r') --length;

  if (length == 0) return SetReply(reply, "ERR empty command");
  if (length != kCommandLength) return SetReply(reply, "ERR bad length");

  switch (command[0]) {
    case '!':
      return HandleSet(command, reply);
    case '?':
      return HandleRead(command, reply);
    case 'p':
      return HandleSelectPwm(command, reply);
    case 'w':
      return HandleWritePwm(command, reply);
    default:
      return SetReply(reply, "ERR unknown command");
  }
}

void BoardProtocol::HandleSet(const char* command, Reply* reply) {
  // The verb is checked before the pin so that "!xxzz" is reported as the
  // unknown command it is rather than as a bad pin.
  const char verb = command[3];
  const char argument = command[4];
  const bool is_mode = verb == 'm' && (argument == 'i' || argument == 'o');
  const bool is_level = verb == 's' && (argument == '0' || argument == '1');
  if (!is_mode && !is_level) return SetReply(reply, "ERR unknown command");

  const uint8_t pin = ParsePin(command + 1);
  if (pin == kNoPin) return SetReply(reply, "ERR bad pin");

  if (is_mode) {
    pins_.SetPinMode(pin, argument == 'o' ? PinMode::kOutput : PinMode::kInput);
  } else {
    pins_.WriteDigital(pin, argument == '1');
  }
  SetReply(reply, "OK");
}

void BoardProtocol::HandleRead(const char* command, Reply* reply) {
  if (command[3] != 's' || command[4] != '?') return SetReply(reply, "ERR unknown command");
  const uint8_t pin = ParsePin(command + 1);
  if (pin == kNoPin) return SetReply(reply, "ERR bad pin");

  if (IsAnalogPin(pin)) {
    int16_t value = pins_.ReadAnalog(pin);
    if (value < 0) value = 0;
    if (value > static_cast<int16_t>(kMaxAnalogValue)) value = kMaxAnalogValue;
    return SetNumberReply(reply, static_cast<uint16_t>(value));
  }
  SetReply(reply, pins_.ReadDigital(pin) ? "HIGH" : "LOW");
}

void BoardProtocol::HandleSelectPwm(const char* command, Reply* reply) {
  if (command[1] != 'w' || command[2] != 'm') return SetReply(reply, "ERR unknown command");
  const uint8_t pin = ParsePin(command + 3);
  // The analog inputs have no PWM output behind them.
  if (pin == kNoPin || IsAnalogPin(pin)) return SetReply(reply, "ERR bad pin");
  pwm_pin_ = pin;
  SetReply(reply, "OK");
}

void BoardProtocol::HandleWritePwm(const char* command, Reply* reply) {
  uint16_t value = 0;
  for (uint8_t i = 1; i < kCommandLength; ++i) {
    if (!IsDigit(command[i])) return SetReply(reply, "ERR bad value");
    value = static_cast<uint16_t>(value * 10 + (command[i] - '0'));
  }
  if (value > kMaxPwmValue) return SetReply(reply, "ERR bad value");
  // The selection stays after a write, so a block that repeats a value for
  // the same pin need not select it again.
  if (pwm_pin_ == kNoPin) return SetReply(reply, "ERR no pwm pin");
  pins_.WritePwm(pwm_pin_, value);
  SetReply(reply, "OK");
}

}  // namespace board
