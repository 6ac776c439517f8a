// The exact texts of the library's error messages, in the platform's text encoding.
#pragma once

#include <string>
#include <string_view>

#include "arduino_block.h"

namespace arduino {

// The one non-ASCII letter of the messages, in the platform's text encoding.
extern const char* const kSmallUWithDiaeresis;

// "'<text>' ist kein gültiger Integerwert", in the platform's text encoding.
std::string InvalidIntegerMessage(std::string_view text);
// "'<text>' ist kein gültiger Gleitkommawert", in the platform's text encoding.
std::string InvalidFloatMessage(std::string_view text);

}  // namespace arduino
