// The block library as a host meets it, for tests and benches on both
// systems: loaded by path through blockhost's loader, one block in a record
// the host owns, its settings handed over through ReadFromFile, and value
// arrays of packed 10-byte extended values.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "block_library.h"
#include "block_record.h"
#include "settings_record.h"
#include "value_array.h"

namespace harness {

using blockhost::BlockExports;
using blockhost::BlockLibrary;

// The library at `path`, loaded on first use and kept to the end of the
// program, as a host keeps it.  Throws blockhost::LibraryError when it cannot
// be loaded or lacks an export.
const BlockLibrary& SharedLibrary(const std::string& path);

using Values = hostmodel::ValueArray;

// The settings record with what most tests want: a board on this machine
// over UDP, and the block's own pin modes, every analog input read.
struct BlockSettings : hostmodel::BlockSettings {
  BlockSettings();
  // The block as the project file holds it: every line ends with CR LF.
  std::string Text() const { return hostmodel::FormatSettingsLines(*this); }
};

// One block, created through InitUserDLL in a record of `fill` bytes with the
// host's window in AppHandle, and disposed with the object.
class LoadedBlock {
 public:
  explicit LoadedBlock(const BlockExports& exports, uint32_t app_handle = 0, uint8_t fill = 0);
  ~LoadedBlock();
  LoadedBlock(const LoadedBlock&) = delete;
  LoadedBlock& operator=(const LoadedBlock&) = delete;

  const BlockExports& exports() const { return exports_; }
  void* record() { return record_.data(); }
  const hostmodel::BlockRecord& host_record() const { return record_; }
  // Hands the settings to the block through ReadFromFile.
  void Configure(const BlockSettings& settings) { Configure(settings.Text()); }
  void Configure(const std::string& settings_text);
  // Disposes of the block before the object goes.
  void Dispose();

 private:
  const BlockExports& exports_;
  hostmodel::BlockRecord record_;
  bool alive_ = true;
};

// A simulation run that always ends, whatever the test body does, so that a
// serial port held by the library is closed before the next test.
class SimulationRun {
 public:
  explicit SimulationRun(LoadedBlock* block) : block_(block) {}
  ~SimulationRun();
  SimulationRun(const SimulationRun&) = delete;
  SimulationRun& operator=(const SimulationRun&) = delete;

  void Init(Values* inputs, Values* outputs);
  void Step(Values* inputs, Values* outputs);

 private:
  LoadedBlock* block_;
  bool started_ = false;
};

}  // namespace harness
