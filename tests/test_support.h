// Helpers shared by the tests: a host-side block record, value arrays and a
// scratch file, as a host would hand them to the library.  The parts that
// differ between systems (the scratch file, the loopback peer, sleeping, the
// text encoding) come from test_platform.h, one per platform.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/application.h"
#include "block/block_record.h"
#include "block/user_data.h"
#include "link/serial.h"
#include "loaded_block.h"
#include "test_platform.h"
#include "value_array.h"

namespace arduino::testing {

using hostmodel::kBlockRecordSize;
using hostmodel::ValueArray;
constexpr uint8_t kHostFill = 0xA5;  // bytes the library must leave alone

// The library linked into the test program, behind the same table of
// exports that a loaded library fills in, so that a test block is created,
// configured and run exactly as the harness does it with a loaded one.
inline const harness::BlockExports& LinkedExports() {
  static const harness::BlockExports exports = [] {
    harness::BlockExports e;
    e.IsUserDLL32 = &::IsUserDLL32;
    e.GetDLLName = &::GetDLLName;
    e.InitUserDLL = &::InitUserDLL;
    e.DisposeUserDLL = &::DisposeUserDLL;
    e.GetNumberOfInputsOutputs = &::GetNumberOfInputsOutputs;
    e.GetParameterStruct = &::GetParameterStruct;
    e.GetDialogEnableStruct = &::GetDialogEnableStruct;
    e.SetInputChar = &::SetInputChar;
    e.SetOutputChar = &::SetOutputChar;
    e.CanSimulateDLL = &::CanSimulateDLL;
    e.InitSimulationDLL = &::InitSimulationDLL;
    e.SimulateDLL = &::SimulateDLL;
    e.EndSimulationDLL2 = &::EndSimulationDLL2;
    e.WriteToFile = &::WriteToFile;
    e.ReadFromFile = &::ReadFromFile;
    return e;
  }();
  return exports;
}

// A block created through InitUserDLL in a host-owned record of bytes the
// library must leave alone.
class HostBlock : public harness::LoadedBlock {
 public:
  explicit HostBlock(uint32_t app_handle = 0)
      : LoadedBlock(LinkedExports(), app_handle, kHostFill) {}

  const std::vector<uint8_t>& bytes() const { return host_record().bytes(); }
  TUserData& data() { return UserDataOf(record()); }
  uint32_t key() const { return host_record().UserDataSlot(); }
};

// Skips the pause after a serial port opens for as long as it lives, and
// counts the pauses skipped.  A real board needs the pause to come up after
// the open resets it; a pseudo-terminal answers at once, so only the test
// that measures the pause has to sit through it.
class SkipOpenPause {
 public:
  SkipOpenPause() : replaced_(ReplaceOpenPause(&Count)) { skipped_ = 0; }
  ~SkipOpenPause() { ReplaceOpenPause(replaced_); }
  SkipOpenPause(const SkipOpenPause&) = delete;
  SkipOpenPause& operator=(const SkipOpenPause&) = delete;

  static int skipped() { return skipped_; }

 private:
  static void Count(uint32_t) { ++skipped_; }
  static inline int skipped_ = 0;
  OpenPause replaced_;
};

// Runs pump passes until `done` holds or about `limit_ms` have passed.
template <class Predicate>
bool PumpUntil(Predicate done, int limit_ms = 2000) {
  for (int waited = 0; waited < limit_ms; waited += 5) {
    Application().ProcessMessages();
    if (done()) return true;
    SleepMs(5);
  }
  return done();
}

}  // namespace arduino::testing
