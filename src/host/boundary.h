// The one place where an error meets the host.  Every export runs its body
// through Guarded; what the host then sees is the platform's business: a
// C++ exception on Linux, a structured exception on Windows, where the host
// is no C++ program.
#pragma once

#include <exception>
#include <type_traits>

namespace arduino {

// Hands the error being handled to the host; called only from a catch block.
[[noreturn]] void RaiseToHost();

template <class Body>
auto Guarded(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    RaiseToHost();
  }
}

}  // namespace arduino
