// Message texts for Windows, where the host expects single-byte ANSI text
// (code page 1252).
#include "base/errors.h"

namespace arduino {

namespace {

// Built by appending: GCC 12 warns wrongly (-Wrestrict) about the same text
// built with operator+ at -O3.
std::string Quoted(std::string_view text, const char* rest) {
  std::string message;
  message += '\'';
  message.append(text);
  message += '\'';
  message += rest;
  return message;
}

}  // namespace

std::string InvalidIntegerMessage(std::string_view text) {
  return Quoted(text, " ist kein g\xfcltiger Integerwert");
}

std::string InvalidFloatMessage(std::string_view text) {
  return Quoted(text, " ist kein g\xfcltiger Gleitkommawert");
}

}  // namespace arduino
