// Bytes made printable on one line: printable ASCII stays, a backslash
// doubles, and every other byte becomes \xHH.
#pragma once

#include <string>
#include <string_view>

namespace byte_text {

// The case of the hex digits in \xHH.  The command log of boardsim has
// always written them in lower case and the other tools in upper case;
// scripts read both, so each keeps its own.
enum class HexDigits { kLower, kUpper };

// Escapes `bytes` as above; each character of `also_escaped` gets a
// backslash before it too (a quote, for text printed inside quotes).
std::string EscapeBytes(std::string_view bytes, HexDigits hex, std::string_view also_escaped = {});

}  // namespace byte_text
