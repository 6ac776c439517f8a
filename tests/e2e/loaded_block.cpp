#include "loaded_block.h"

#include <dlfcn.h>
#include <stdio.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings_text.h"

namespace e2e {
namespace {

constexpr size_t kRecordSize = 8192;

template <class Fn>
Fn Find(void* library, const char* name) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  return reinterpret_cast<Fn>(symbol);
}

Exports Load() {
  void* library = dlopen(ARDUINO_BLOCK_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) throw std::runtime_error(dlerror());
  return {Find<InitUserDLLFn>(library, "InitUserDLL"),
          Find<DisposeUserDLLFn>(library, "DisposeUserDLL"),
          Find<CanSimulateDLLFn>(library, "CanSimulateDLL"),
          Find<InitSimulationDLLFn>(library, "InitSimulationDLL"),
          Find<SimulateDLLFn>(library, "SimulateDLL"),
          Find<EndSimulationDLL2Fn>(library, "EndSimulationDLL2"),
          Find<ReadFromFileFn>(library, "ReadFromFile")};
}

std::string SettingsLines(const Settings& s) {
  std::vector<std::string> lines = {std::to_string(s.interface_kind), std::to_string(s.com_port),
                                    std::to_string(s.baud_rate), s.address,
                                    std::to_string(s.udp_port)};
  for (int mode : s.pin_mode) lines.push_back(std::to_string(mode));
  for (int used : s.analog_used) lines.push_back(std::to_string(used));
  return arduino::testing::SettingsText(lines);
}

}  // namespace

const Exports& Module() {
  static const Exports exports = Load();
  return exports;
}

Values::Values(size_t count, long double fill) : bytes_(count * ARDUINO_BLOCK_EXTENDED_SIZE) {
  for (size_t i = 0; i < count; ++i) Set(i, fill);
}

long double Values::operator[](size_t i) const {
  long double value = 0.0L;
  std::memcpy(&value, bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE,
              ARDUINO_BLOCK_EXTENDED_SIZE);
  return value;
}

void Values::Set(size_t i, long double value) {
  std::memcpy(bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE, &value,
              ARDUINO_BLOCK_EXTENDED_SIZE);
}

LoadedBlock::LoadedBlock() : record_(kRecordSize, 0) { Module().init(record_.data()); }

LoadedBlock::~LoadedBlock() { Module().dispose(record_.data()); }

void LoadedBlock::Configure(const Settings& settings) {
  FILE* file = tmpfile();
  if (file == nullptr) throw std::runtime_error("tmpfile failed");
  std::string text = SettingsLines(settings);
  fwrite(text.data(), 1, text.size(), file);
  fflush(file);
  rewind(file);
  try {
    Module().read_from_file(static_cast<uint32_t>(fileno(file)), record_.data());
  } catch (...) {
    fclose(file);
    throw;
  }
  fclose(file);
}

SimulationRun::~SimulationRun() {
  if (started_) Module().end_simulation(block_->record());
}

void SimulationRun::Init(Values* inputs, Values* outputs) {
  started_ = true;
  Module().init_simulation(block_->record(), inputs->data(), outputs->data());
}

void SimulationRun::Step(Values* inputs, Values* outputs) {
  Module().simulate(Lead12{}, block_->record(), inputs->data(), outputs->data());
}

}  // namespace e2e
