// What an analog input of the emulated board reads over time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace boardsim {

struct AnalogSource {
  enum class Kind { kNone, kConst, kSine, kRamp, kPwm };
  Kind kind = Kind::kNone;
  double value = 0;       // kConst: the level.
  double amplitude = 0;   // kSine.
  double offset = 0;      // kSine.
  int64_t period_ms = 0;  // kSine and kRamp.
  uint8_t pwm_pin = 0;    // kPwm: the pin whose PWM value is read back.
};

// Parses "const:V", "sine:AMPL:OFFSET:PERIOD_MS", "ramp:PERIOD_MS" or
// "pwm:PIN".  On failure returns nothing and sets *error to the reason.
std::optional<AnalogSource> ParseAnalogSource(std::string_view text, std::string* error);

// The ADC count at now_ms, rounded and clamped to 0..1023.  pwm_value is the
// current PWM value of source.pwm_pin and only used by kPwm.
int EvaluateAnalogSource(const AnalogSource& source, int64_t now_ms, int pwm_value);

}  // namespace boardsim
