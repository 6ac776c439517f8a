// Message texts for Linux, where the library speaks UTF-8.
#include "base/errors.h"

namespace arduino {

std::string InvalidIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' ist kein g\xc3\xbcltiger Integerwert";
}

std::string InvalidFloatMessage(std::string_view text) {
  return "'" + std::string(text) + "' ist kein g\xc3\xbcltiger Gleitkommawert";
}

}  // namespace arduino
