#include "option_values.h"

#include <charconv>
#include <cmath>

#include "board_pins.h"

namespace boardsim {

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max) {
  if (text.empty()) return std::nullopt;
  // from_chars refuses a leading '+', which people do type; allow it.
  if (text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  // from_chars rather than strtod: strtod skips leading blanks and needs a
  // terminated string, and a typo in a waveform should be refused.
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<uint8_t> ParsePinName(std::string_view text) {
  if (text.size() >= 2 && (text.front() == 'A' || text.front() == 'a')) {
    const auto channel = ParseInteger(text.substr(1), 0, 5);
    if (!channel) return std::nullopt;
    return static_cast<uint8_t>(board::kFirstAnalogPin + *channel);
  }
  if (text.size() >= 2 && (text.front() == 'D' || text.front() == 'd')) text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  const auto pin = ParseInteger(text, 0, 99);
  if (!pin) return std::nullopt;
  const bool digital = *pin >= 2 && *pin <= 9;
  const bool analog = *pin >= board::kFirstAnalogPin && *pin < board::kPinCount;
  if (!digital && !analog) return std::nullopt;
  return static_cast<uint8_t>(*pin);
}

}  // namespace boardsim
