// The DLL under test, loaded once per test program the way a host loads it,
// and the host-side pieces the tests hand to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "arduino_block.h"
#include "loaded_block.h"
#include "settings_text.h"

namespace arduino::testing {

// ArduinoBlock.dll from the program's directory, loaded on first use.
const harness::BlockExports& Dll();
HMODULE DllModule();

// A block record owned by the test, as the host owns its records, filled
// with bytes the DLL must leave alone.  The host's application window goes
// into the record before the block starts.
class DllBlock : public harness::LoadedBlock {
 public:
  explicit DllBlock(uint32_t app_handle = 0) : LoadedBlock(Dll(), app_handle, 0xA5) {}
};

// What the host's handler finds in a structured exception of the DLL.
struct BlockError {
  std::string class_name;
  std::string message;
};

// Runs `call`; if the DLL raises its structured exception, returns its class
// and message.  Other exceptions pass on untouched.
std::optional<BlockError> CatchBlockError(const std::function<void()>& call);

}  // namespace arduino::testing
