// The message of the exception a call throws, for comparing with the one
// expected in a single EXPECT.
#pragma once

#include <string>

namespace arduino::testing {

// What `call` throws as an E: its message, or "(nothing thrown)", so that
// the comparison fails and says why.  Any other exception goes on to the
// test, which reports it.
template <typename E, typename Call>
std::string ThrownMessage(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

}  // namespace arduino::testing
