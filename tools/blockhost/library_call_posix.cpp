// On Linux the library's errors arrive as C++ exceptions derived from
// std::exception whose what() is the message.
#include <exception>

#include "errors.h"
#include "library_call.h"

namespace blockhost {

void CallLibrary(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    throw LibraryError(error.what());
  } catch (...) {
    throw LibraryError("an error that carries no message");
  }
}

}  // namespace blockhost
