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

std::optional<std::string> UnescapeText(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        // Exactly two hex digits follow, so "\x4" at the end is an error
        // rather than a silently shortened byte.
        if (text.size() - i < 3) return std::nullopt;
        unsigned value = 0;
        const char* first = text.data() + i + 1;
        const auto [end, error] = std::from_chars(first, first + 2, value, 16);
        if (error != std::errc() || end != first + 2) return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace boardsim
