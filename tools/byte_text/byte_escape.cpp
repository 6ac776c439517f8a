#include "byte_escape.h"

#include <charconv>

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

std::optional<std::string> UnescapeBytes(std::string_view text) {
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

}  // namespace byte_text
