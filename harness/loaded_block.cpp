#include "loaded_block.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "scratch_file.h"

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

BlockSettings::BlockSettings() {
  interface_kind = arduino::kInterfaceEthernet;
  com_port = 5;
  baud_rate = 115200;
  address = "127.0.0.1";
  udp_port = 0;
  pin_mode = {arduino::pmDigitalInput,  arduino::pmDigitalInput,  arduino::pmDigitalInput,
              arduino::pmDigitalInput,  arduino::pmDigitalOutput, arduino::pmDigitalOutput,
              arduino::pmDigitalOutput, arduino::pmDigitalOutput};
  analog_used.fill(1);
}

LoadedBlock::LoadedBlock(const BlockExports& exports, uint32_t app_handle, uint8_t fill)
    : exports_(exports), record_(fill, app_handle) {
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
