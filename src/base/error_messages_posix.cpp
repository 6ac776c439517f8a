// On Linux the library speaks UTF-8.
#include "base/error_messages.h"

namespace arduino {

const char* const kSmallUWithDiaeresis = "\xc3\xbc";

}  // namespace arduino
