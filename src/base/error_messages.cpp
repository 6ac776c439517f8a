#include "base/error_messages.h"

namespace arduino {
namespace {

// Built by appending: GCC 12 warns wrongly (-Wrestrict) about the same text
// built with operator+ at -O3.
std::string Quoted(std::string_view text, const char* before_u, const char* after_u) {
  std::string message;
  message += '\'';
  message.append(text);
  message += '\'';
  message += before_u;
  message += kSmallUWithDiaeresis;
  message += after_u;
  return message;
}

}  // namespace

std::string InvalidIntegerMessage(std::string_view text) {
  return Quoted(text, " ist kein g", "ltiger Integerwert");
}

std::string InvalidFloatMessage(std::string_view text) {
  return Quoted(text, " ist kein g", "ltiger Gleitkommawert");
}

}  // namespace arduino
