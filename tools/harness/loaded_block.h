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

namespace harness {

using blockhost::BlockExports;
using blockhost::BlockLibrary;

// The library at `path`, loaded on first use and kept to the end of the
// program, as a host keeps it.  Throws blockhost::LibraryError when it cannot
// be loaded or lacks an export.
const BlockLibrary& SharedLibrary(const std::string& path);

constexpr size_t kRecordSize = 8192;

// The settings block as named fields, in the order the file holds them.
struct BlockSettings {
  int interface_kind = 0;
  int com_port = 5;
  int baud_rate = 115200;
  std::string address = "127.0.0.1";
  int udp_port = 0;
  std::array<int, 8> pin_mode{1, 1, 1, 1, 2, 2, 2, 2};  // the block's defaults
  std::array<int, 6> analog_used{1, 1, 1, 1, 1, 1};

  // The block as the project file holds it: every line ends with CR LF.
  std::string Text() const;
};

class Values {
 public:
  Values(size_t count, long double fill);
  long double operator[](size_t i) const;
  void Set(size_t i, long double value);
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
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
  // Hands the settings to the block through ReadFromFile.
  void Configure(const BlockSettings& settings) { Configure(settings.Text()); }
  void Configure(const std::string& settings_text);
  // Disposes of the block before the object goes.
  void Dispose();

 private:
  const BlockExports& exports_;
  std::vector<uint8_t> record_;
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
