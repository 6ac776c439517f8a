// The integer reading never crashes, and what it accepts prints back to the
// same number.
#include <cstdlib>
#include <string>

#include "arduino_block.h"
#include "base/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<int32_t> value = arduino::TryStrToInt(text);
  if (value && arduino::TryStrToInt(arduino::IntToStr(*value)) != value) std::abort();
  try {
    int32_t thrown = arduino::StrToInt(text);
    if (!value || thrown != *value) std::abort();
  } catch (const EConvertError&) {
    if (value) std::abort();
  }
  return 0;
}
