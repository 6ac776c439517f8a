// The DLL under test, loaded once per test program the way a host loads it,
// and the host-side pieces the tests hand to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "settings_text.h"

namespace arduino::testing {

struct BlockDll {
  HMODULE module;
  InitUserDLLFn InitUserDLL;
  DisposeUserDLLFn DisposeUserDLL;
  CanSimulateDLLFn CanSimulateDLL;
  InitSimulationDLLFn InitSimulationDLL;
  SimulateDLLFn SimulateDLL;
  EndSimulationDLL2Fn EndSimulationDLL2;
  CallParameterDialogDLLFn CallParameterDialogDLL;
  WriteToFileFn WriteToFile;
  ReadFromFileFn ReadFromFile;
};

// Loads ArduinoBlock.dll from the program's directory on first use.
const BlockDll& Dll();

// A block record owned by the test, as the host owns its records.  The
// host's application window goes into the record before the block starts.
class DllBlock {
 public:
  explicit DllBlock(uint32_t app_handle = 0);
  ~DllBlock();
  DllBlock(const DllBlock&) = delete;
  DllBlock& operator=(const DllBlock&) = delete;
  void* record() { return record_.data(); }
  void Dispose();

 private:
  std::vector<uint8_t> record_;
  bool alive_ = true;
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
