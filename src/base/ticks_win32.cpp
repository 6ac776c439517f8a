#include <windows.h>

#include "base/ticks.h"

namespace arduino {

uint32_t SystemTickCount() { return GetTickCount(); }

}  // namespace arduino
