// The emulated board behind boardsim: pin modes and levels, PWM values,
// wires from outputs to inputs and waveforms on the analog inputs.
#pragma once

#include <array>
#include <cstdint>

#include "analog_source.h"
#include "board_pins.h"

namespace boardsim {

class SimBoard final : public board::BoardPins {
 public:
  SimBoard();

  // Reading `to` then yields the level of `from`.
  void AddWire(uint8_t from, uint8_t to);
  void SetAnalogSource(uint8_t pin, const AnalogSource& source);
  // Time base of the waveforms; the simulator sets it before each command.
  void set_now_ms(int64_t now_ms) { now_ms_ = now_ms; }

  void SetPinMode(uint8_t pin, board::PinMode mode) override;
  void WriteDigital(uint8_t pin, bool high) override;
  bool ReadDigital(uint8_t pin) override;
  int16_t ReadAnalog(uint8_t pin) override;
  void WritePwm(uint8_t pin, uint16_t value) override;

 private:
  static constexpr int kNoWire = -1;

  std::array<board::PinMode, board::kPinCount> modes_;
  std::array<bool, board::kPinCount> levels_;
  std::array<uint16_t, board::kPinCount> pwm_;
  std::array<int, board::kPinCount> wired_from_;
  std::array<AnalogSource, board::kPinCount - board::kFirstAnalogPin> analog_;
  int64_t now_ms_ = 0;
};

}  // namespace boardsim
