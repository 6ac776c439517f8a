// The one place where an error meets the host.  Every export runs its body
// through Guarded; what the host then sees is the platform's business: a
// C++ exception on Linux, a structured exception on Windows, where the host
// is no C++ program.  The body runs under the library's own floating-point
// state, and the host's comes back on every way out.
#pragma once

#include <exception>
#include <type_traits>

#include "base/float_state.h"

namespace arduino {

// Hands the error being handled to the host; called only from a catch block.
[[noreturn]] void RaiseToHost();

template <class Body>
auto Guarded(Body body) -> decltype(body()) {
  HostFloatState host_state;
  try {
    return body();
  } catch (...) {
    // Before the error leaves: on Windows the host takes it past our frames,
    // and host_state's destructor never runs.
    host_state.Restore();
    RaiseToHost();
  }
}

}  // namespace arduino
