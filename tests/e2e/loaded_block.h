// The built library loaded with dlopen, as a host loads it, and one block of
// it with settings given as named fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "arduino_block.h"

namespace e2e {

struct Exports {
  InitUserDLLFn init;
  DisposeUserDLLFn dispose;
  CanSimulateDLLFn can_simulate;
  InitSimulationDLLFn init_simulation;
  SimulateDLLFn simulate;
  EndSimulationDLL2Fn end_simulation;
  ReadFromFileFn read_from_file;
};

// The library's exports, loaded once per test program.
const Exports& Module();

struct Settings {
  int interface_kind = 0;
  int com_port = 5;
  int baud_rate = 115200;
  std::string address = "127.0.0.1";
  int udp_port = 0;
  std::array<int, 8> pin_mode{1, 1, 1, 1, 2, 2, 2, 2};  // the block's defaults
  std::array<int, 6> analog_used{1, 1, 1, 1, 1, 1};
};

// Value arrays of packed 10-byte extended values.
class Values {
 public:
  Values(size_t count, long double fill);
  long double operator[](size_t i) const;
  void Set(size_t i, long double value);
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

class LoadedBlock {
 public:
  LoadedBlock();
  ~LoadedBlock();
  LoadedBlock(const LoadedBlock&) = delete;
  LoadedBlock& operator=(const LoadedBlock&) = delete;

  // Hands `settings` to the block through ReadFromFile.
  void Configure(const Settings& settings);
  void* record() { return record_.data(); }

 private:
  std::vector<uint8_t> record_;
};

// A simulation run that always ends, whatever the test body does, so that a
// serial port held by the library is closed before the next test.
class SimulationRun {
 public:
  explicit SimulationRun(LoadedBlock* block) : block_(block) {}
  ~SimulationRun();
  void Init(Values* inputs, Values* outputs);
  void Step(Values* inputs, Values* outputs);

 private:
  LoadedBlock* block_;
  bool started_ = false;
};

}  // namespace e2e
