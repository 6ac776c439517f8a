#include "analog_source.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "option_values.h"

namespace boardsim {
namespace {

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string_view::npos) return fields;
    start = colon + 1;
  }
}

}  // namespace

std::optional<AnalogSource> ParseAnalogSource(std::string_view text, std::string* error) {
  const std::vector<std::string_view> fields = SplitFields(text);
  const std::string_view kind = fields[0];
  AnalogSource source;
  auto fail = [&](const std::string& why) {
    *error = why;
    return std::nullopt;
  };
  auto period = [&](std::string_view field) { return ParseInteger(field, 1, 86'400'000); };

  if (kind == "const") {
    if (fields.size() != 2) return fail("expected const:VALUE");
    const auto value = ParseNumber(fields[1]);
    if (!value) return fail("bad value '" + std::string(fields[1]) + "'");
    source.kind = AnalogSource::Kind::kConst;
    source.value = *value;
  } else if (kind == "sine") {
    if (fields.size() != 4) return fail("expected sine:AMPLITUDE:OFFSET:PERIOD_MS");
    const auto amplitude = ParseNumber(fields[1]);
    const auto offset = ParseNumber(fields[2]);
    const auto period_ms = period(fields[3]);
    if (!amplitude || !offset) return fail("bad number in '" + std::string(text) + "'");
    if (!period_ms) return fail("period must be a whole number of milliseconds, at least 1");
    source.kind = AnalogSource::Kind::kSine;
    source.amplitude = *amplitude;
    source.offset = *offset;
    source.period_ms = *period_ms;
  } else if (kind == "ramp") {
    if (fields.size() != 2) return fail("expected ramp:PERIOD_MS");
    const auto period_ms = period(fields[1]);
    if (!period_ms) return fail("period must be a whole number of milliseconds, at least 1");
    source.kind = AnalogSource::Kind::kRamp;
    source.period_ms = *period_ms;
  } else if (kind == "pwm") {
    if (fields.size() != 2) return fail("expected pwm:PIN");
    const auto pin = ParsePinName(fields[1]);
    if (!pin || *pin > 9) return fail("pwm source must be a digital pin 2..9");
    source.kind = AnalogSource::Kind::kPwm;
    source.pwm_pin = *pin;
  } else {
    return fail("unknown source '" + std::string(kind) + "' (const, sine, ramp or pwm)");
  }
  return source;
}

int EvaluateAnalogSource(const AnalogSource& source, int64_t now_ms, int pwm_value) {
  double value = 0;
  switch (source.kind) {
    case AnalogSource::Kind::kNone:
      break;
    case AnalogSource::Kind::kConst:
      value = source.value;
      break;
    case AnalogSource::Kind::kSine: {
      const double phase = static_cast<double>(now_ms % source.period_ms) / source.period_ms;
      value = source.offset + source.amplitude * std::sin(2 * std::numbers::pi * phase);
      break;
    }
    case AnalogSource::Kind::kRamp:
      // Integer arithmetic so the ramp reaches exactly 0 at the start of each
      // period and never 1024.
      value = static_cast<double>((now_ms % source.period_ms) * 1024 / source.period_ms);
      break;
    case AnalogSource::Kind::kPwm:
      value = pwm_value;
      break;
  }
  return static_cast<int>(std::clamp(std::lround(value), 0L, 1023L));
}

}  // namespace boardsim
