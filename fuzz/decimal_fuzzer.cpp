// The decimal reading never crashes and agrees with its throwing form; no
// accepted text gives an infinity or a NaN.
#include <cmath>
#include <cstdlib>
#include <string>

#include "arduino_block.h"
#include "base/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<long double> value = arduino::TryStrToFloat(text);
  if (value && !std::isfinite(*value)) std::abort();
  try {
    long double thrown = arduino::StrToFloat(text);
    if (!value || !(thrown == *value || (thrown == 0 && *value == 0))) std::abort();
  } catch (const EConvertError&) {
    if (value) std::abort();
  }
  return 0;
}
