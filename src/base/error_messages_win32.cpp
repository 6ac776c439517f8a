// On Windows the host expects single-byte ANSI text (code page 1252).
#include "base/error_messages.h"

namespace arduino {

const char* const kSmallUWithDiaeresis = "\xfc";

}  // namespace arduino
