#include "sim_board.h"

namespace boardsim {

SimBoard::SimBoard() {
  modes_.fill(board::PinMode::kInput);
  levels_.fill(false);
  pwm_.fill(0);
  wired_from_.fill(kNoWire);
}

void SimBoard::AddWire(uint8_t from, uint8_t to) { wired_from_[to] = from; }

void SimBoard::SetAnalogSource(uint8_t pin, const AnalogSource& source) {
  analog_[pin - board::kFirstAnalogPin] = source;
}

void SimBoard::SetPinMode(uint8_t pin, board::PinMode mode) { modes_[pin] = mode; }

void SimBoard::WriteDigital(uint8_t pin, bool high) {
  levels_[pin] = high;
  // As on the real board, a digital write ends any PWM on the pin.
  pwm_[pin] = high ? board::kMaxPwmValue : 0;
}

bool SimBoard::ReadDigital(uint8_t pin) {
  // An unwired input reads its own latch, which is what the real board does
  // when a high write has switched on the pull-up.
  const int source = wired_from_[pin];
  return levels_[source == kNoWire ? pin : source];
}

int16_t SimBoard::ReadAnalog(uint8_t pin) {
  // A wired or driven analog pin reads the rail it is tied to.
  const int source = wired_from_[pin];
  if (source != kNoWire) return levels_[source] ? board::kMaxAnalogValue : 0;
  if (modes_[pin] == board::PinMode::kOutput) return levels_[pin] ? board::kMaxAnalogValue : 0;
  const AnalogSource& analog = analog_[pin - board::kFirstAnalogPin];
  const int pwm_value = analog.kind == AnalogSource::Kind::kPwm ? pwm_[analog.pwm_pin] : 0;
  return static_cast<int16_t>(EvaluateAnalogSource(analog, now_ms_, pwm_value));
}

void SimBoard::WritePwm(uint8_t pin, uint16_t value) {
  pwm_[pin] = value;
  // A wired input sees the average: high once the duty cycle passes half.
  levels_[pin] = value >= (board::kMaxPwmValue + 1) / 2;
}

}  // namespace boardsim
