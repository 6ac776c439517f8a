// Processors other than x86: the C library's floating-point environment.
// Their long double is no x87 value and has no precision control to set.
#include <cfenv>
#include <cstring>

#include "base/float_state.h"

namespace arduino {

static_assert(sizeof(std::fenv_t) <= sizeof(FloatEnvironment));

void SaveFloatEnvironment(FloatEnvironment* environment) {
  std::fenv_t saved;
  std::fegetenv(&saved);
  std::memcpy(environment->bytes, &saved, sizeof saved);
}

void LoadFloatEnvironment(const FloatEnvironment& environment) {
  std::fenv_t saved;
  std::memcpy(&saved, environment.bytes, sizeof saved);
  std::fesetenv(&saved);
}

void EnterBlockFloatState() {
  // Clears the flags and stops every trap, then rounds to nearest.
  std::fenv_t discarded;
  std::feholdexcept(&discarded);
  std::fesetround(FE_TONEAREST);
}

// The C library's environment is opaque: always load.
bool LoadChangesNothing(const FloatEnvironment&, const FloatEnvironment&) { return false; }

}  // namespace arduino
