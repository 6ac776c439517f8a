// The system's own text for a Win32 error code, for messages that say why a
// call failed.
#pragma once

#include <string>

namespace blockhost {

// One line without the trailing full stop, or "system error N" when the
// system has no text for the code.
std::string SystemErrorText(unsigned long code);

}  // namespace blockhost
