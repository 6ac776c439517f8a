// Text <-> number conversions.  Every number the library formats or parses
// goes through here; none of them consults the C locale, so a host that
// switches LC_NUMERIC to a comma locale changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace arduino {

// Reads a 32-bit signed integer: leading blanks, then decimal digits with an
// optional "+" or "-", or a hexadecimal number after "$" or "0x" (no sign).
// The number must take the whole rest of the text.
std::optional<int32_t> TryStrToInt(std::string_view text);
// As TryStrToInt, but a text that is not an integer raises EConvertError.
int32_t StrToInt(std::string_view text);

// Reads a decimal number with "." as separator into an 80-bit value:
// blanks, optional sign, digits, optional "." and digits, optional exponent
// ("E"/"e", optional sign, digits; no digits counts as 0), blanks.  At least
// one digit or the separator must come before the exponent.  Anything else,
// and a value too large for the 80-bit format, raises EConvertError.
std::optional<long double> TryStrToFloat(std::string_view text);
long double StrToFloat(std::string_view text);

// Plain decimal, "-" for negatives, no leading zeros.
std::string IntToStr(int32_t value);
// At least `digits` digits with leading zeros, as printf's "%<d>.<d>d".
std::string FormatZeroPadded(int32_t value, int digits);

}  // namespace arduino
