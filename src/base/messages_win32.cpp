// Message texts for Windows, where the host expects single-byte ANSI text
// (code page 1252).
#include "base/errors.h"

namespace arduino {

std::string InvalidIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' ist kein g\xfcltiger Integerwert";
}

std::string InvalidFloatMessage(std::string_view text) {
  return "'" + std::string(text) + "' ist kein g\xfcltiger Gleitkommawert";
}

}  // namespace arduino
