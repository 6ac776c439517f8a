// Numbers as a user types them on a command line or in a KEY=VALUE: the
// whole text is the number, in the C locale, or it is no number at all.
// Every tool reads its numbers here, so "12abc", " 12" and "+12" are refused
// alike everywhere, and a value beyond the type is refused rather than cut.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace tool_cli {

// `text` read whole as a T: an integer in `base` (a leading '-' only where T
// is signed, no prefix such as "0x"), or a floating-point number, which takes
// no base.  Nothing for empty text, a character that is not part of the
// number, or a value T cannot hold.  A floating-point "inf" or "nan" is a
// number here; callers that want a finite one say so.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base = 10) {
  static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
  if (text.empty()) return std::nullopt;
  T value{};
  const char* const end = text.data() + text.size();
  std::from_chars_result read;
  if constexpr (std::is_integral_v<T>) {
    read = std::from_chars(text.data(), end, value, base);
  } else {
    read = std::from_chars(text.data(), end, value);
  }
  if (read.ec != std::errc() || read.ptr != end) return std::nullopt;
  return value;
}

}  // namespace tool_cli
