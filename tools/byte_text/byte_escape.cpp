#include "byte_escape.h"

namespace byte_text {

std::string EscapeBytes(std::string_view bytes, HexDigits hex, std::string_view also_escaped) {
  const char* digits = hex == HexDigits::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || also_escaped.find(c) != std::string_view::npos) {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 0xF];
    }
  }
  return out;
}

}  // namespace byte_text
