// On Linux the library's errors leave as the C++ exceptions they are; the
// classes are declared in the public header and what() is the exact text.
#include "host/boundary.h"

namespace arduino {

void RaiseToHost() { throw; }

}  // namespace arduino
