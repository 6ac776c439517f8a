// The unit tests link the library's core without the DLL's boundary, so an
// error reaches them as the C++ exception it is and EXPECT_THROW can check
// its class.  What the host sees instead is tested through the DLL.
#include "host/boundary.h"

namespace arduino {

void RaiseToHost() { throw; }

}  // namespace arduino
