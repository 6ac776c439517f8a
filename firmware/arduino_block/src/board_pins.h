// The hardware a board-side protocol drives, reduced to the five operations the
// command set needs.  The firmware sketch maps them onto pinMode, digitalWrite,
// digitalRead, analogRead and analogWrite; boardsim maps them onto its model.
#pragma once

#include <stdint.h>

namespace board {

// Pins are numbered as on an Uno: 0..13 digital, 14..19 the analog inputs
// A0..A5.  The protocol only ever addresses 2..9 and 14..19; 0 and 1 carry
// the serial link to the block, so they must never be reconfigured.
const uint8_t kPinCount = 20;
const uint8_t kFirstAnalogPin = 14;
const uint16_t kMaxAnalogValue = 1023;
const uint16_t kMaxPwmValue = 1023;

enum class PinMode : uint8_t { kInput, kOutput };

class BoardPins {
 public:
  virtual void SetPinMode(uint8_t pin, PinMode mode) = 0;
  virtual void WriteDigital(uint8_t pin, bool high) = 0;
  virtual bool ReadDigital(uint8_t pin) = 0;
  // Returns the ADC count of analog pin 14..19.  Values outside 0..1023 are
  // clamped by the caller, so an implementation need not be careful.
  virtual int16_t ReadAnalog(uint8_t pin) = 0;
  // value is 0..1023 whatever the hardware's real resolution; scaling it to
  // the timer's range is the implementation's business.
  virtual void WritePwm(uint8_t pin, uint16_t value) = 0;

 protected:
  // Not virtual and not public: nobody deletes a board through this
  // interface, and a virtual destructor would pull operator delete into the
  // firmware image.
  ~BoardPins() = default;
};

}  // namespace board
