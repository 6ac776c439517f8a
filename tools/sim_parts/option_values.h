// The values people write on boardsim's and avrboard's command lines:
// numbers and pin names.  Reply texts with escapes in them are read with
// byte_text::UnescapeBytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace boardsim {

// Parses a whole decimal integer in [min, max]; rejects signs where min >= 0,
// trailing characters and overflow.
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max);

// Parses a whole finite decimal number.
std::optional<double> ParseNumber(std::string_view text);

// Accepts "2", "02", "D2", "14" and "A0".."A5" for the pins the protocol can
// address (2..9 and 14..19) and returns the Uno pin number.
std::optional<uint8_t> ParsePinName(std::string_view text);

}  // namespace boardsim
