#include "loaded_block.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "scratch_file.h"
#include "settings_text.h"

namespace harness {

const BlockLibrary& SharedLibrary(const std::string& path) {
  static std::mutex mutex;
  // Never freed: a library's exit handlers may still run after the map's
  // destructor would have.
  static auto* loaded = new std::map<std::string, std::unique_ptr<BlockLibrary>>;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<BlockLibrary>& library = (*loaded)[path];
  if (!library) library = std::make_unique<BlockLibrary>(path);
  return *library;
}

std::string BlockSettings::Text() const {
  std::vector<std::string> lines = {std::to_string(interface_kind), std::to_string(com_port),
                                    std::to_string(baud_rate), address, std::to_string(udp_port)};
  for (int mode : pin_mode) lines.push_back(std::to_string(mode));
  for (int used : analog_used) lines.push_back(std::to_string(used));
  return SettingsText(lines);
}

Values::Values(size_t count, long double fill) : bytes_(count * ARDUINO_BLOCK_EXTENDED_SIZE) {
  for (size_t i = 0; i < count; ++i) Set(i, fill);
}

long double Values::operator[](size_t i) const {
  long double value = 0.0L;
  std::memcpy(&value, bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE, ARDUINO_BLOCK_EXTENDED_SIZE);
  return value;
}

void Values::Set(size_t i, long double value) {
  std::memcpy(bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE, &value, ARDUINO_BLOCK_EXTENDED_SIZE);
}

LoadedBlock::LoadedBlock(const BlockExports& exports, uint32_t app_handle, uint8_t fill)
    : exports_(exports), record_(kRecordSize, fill) {
  std::memcpy(record_.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, &app_handle, sizeof app_handle);
  exports_.InitUserDLL(record_.data());
}

LoadedBlock::~LoadedBlock() {
  if (alive_) exports_.DisposeUserDLL(record_.data());
}

void LoadedBlock::Configure(const std::string& settings_text) {
  ScratchFile file;
  file.Replace(settings_text);
  exports_.ReadFromFile(file.handle(), record_.data());
}

void LoadedBlock::Dispose() {
  exports_.DisposeUserDLL(record_.data());
  alive_ = false;
}

SimulationRun::~SimulationRun() {
  if (started_) block_->exports().EndSimulationDLL2(block_->record());
}

void SimulationRun::Init(Values* inputs, Values* outputs) {
  started_ = true;
  block_->exports().InitSimulationDLL(block_->record(), inputs->data(), outputs->data());
}

void SimulationRun::Step(Values* inputs, Values* outputs) {
  block_->exports().SimulateDLL(Lead12{}, block_->record(), inputs->data(), outputs->data());
}

}  // namespace harness
