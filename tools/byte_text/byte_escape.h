// Bytes made printable on one line: printable ASCII stays, a backslash
// doubles, and every other byte becomes \xHH; and read back.
#pragma once

#include <optional>
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

// The inverse: \\ and \xHH in either case, and also \r \n \t and \0 as people
// write them in a reply text on boardsim's command line.  Nothing for a
// dangling or unknown escape, or \x without two hex digits after it.
std::optional<std::string> UnescapeBytes(std::string_view text);

}  // namespace byte_text
