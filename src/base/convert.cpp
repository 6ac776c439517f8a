#include "base/convert.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/error_messages.h"

namespace arduino {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t SkipBlanks(std::string_view text, size_t i) {
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

}  // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  int64_t value = 0;
  constexpr int64_t kMax = INT32_MAX;
  if (i < text.size() && (text[i] == '$' || (text[i] == '0' && i + 1 < text.size() &&
                                             (text[i + 1] == 'x' || text[i + 1] == 'X')))) {
    i += text[i] == '$' ? 1 : 2;
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
      int digit = HexValue(text[i]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
      if (value > kMax) return std::nullopt;
    }
    return static_cast<int32_t>(value);
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > kMax + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > kMax) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t StrToInt(std::string_view text) {
  if (auto value = TryStrToInt(text)) return *value;
  throw EConvertError(InvalidIntegerMessage(text));
}

std::optional<long double> TryStrToFloat(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // The value is rebuilt as "<digits>e<exponent>" without a decimal point, so
  // that strtold, whose separator follows the C locale, never sees one.
  std::string canonical = negative ? "-" : "";
  while (i < text.size() && IsDigit(text[i])) canonical += text[i++];
  int64_t exponent = 0;
  bool separator = false;
  if (i < text.size() && text[i] == '.') {
    separator = true;
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      canonical += text[i++];
      --exponent;
    }
  }
  bool has_digits = canonical.size() > (negative ? 1u : 0u);
  if (!has_digits && !separator) return std::nullopt;

  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exponent_negative = text[i++] == '-';
    // Saturate: far beyond the 80-bit range either way, and safe from overflow.
    int64_t written = 0;
    while (i < text.size() && IsDigit(text[i])) {
      if (written < 100000000) written = written * 10 + (text[i] - '0');
      ++i;
    }
    exponent += exponent_negative ? -written : written;
  }
  i = SkipBlanks(text, i);
  if (i != text.size()) return std::nullopt;

  if (!has_digits) return negative ? -0.0L : 0.0L;
  if (exponent > 999999999) exponent = 999999999;
  if (exponent < -999999999) exponent = -999999999;
  canonical += 'e';
  canonical += std::to_string(exponent);

  errno = 0;
  char* end = nullptr;
  long double value = std::strtold(canonical.c_str(), &end);
  if (end != canonical.c_str() + canonical.size()) return std::nullopt;
  // Only overflow fails; a value too small for the format reads as the
  // nearest value the format holds (a denormal or zero).
  if (std::isinf(value)) return std::nullopt;
  return value;
}

long double StrToFloat(std::string_view text) {
  if (auto value = TryStrToFloat(text)) return *value;
  throw EConvertError(InvalidFloatMessage(text));
}

std::string IntToStr(int32_t value) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string FormatZeroPadded(int32_t value, int digits) {
  std::string magnitude = IntToStr(value);
  bool negative = value < 0;
  if (negative) magnitude.erase(0, 1);
  if (static_cast<int>(magnitude.size()) < digits)
    magnitude.insert(0, digits - magnitude.size(), '0');
  return negative ? "-" + magnitude : magnitude;
}

}  // namespace arduino
