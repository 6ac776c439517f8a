// On Linux the library speaks UTF-8.
#include "base/errors.h"

namespace arduino {

const char* const kSmallUWithDiaeresis = "\xc3\xbc";

}  // namespace arduino
