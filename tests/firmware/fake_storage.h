// The settings record's EEPROM for host tests: 64 bytes, every one 0xFF as
// on a new board, with the writes counted so that a test can tell a save
// that changed nothing from no save at all.
#pragma once

#include <cstdint>
#include <vector>

#include "network_settings.h"

namespace board_test {

class FakeStorage : public board::SettingsStorage {
 public:
  std::vector<uint8_t> bytes = std::vector<uint8_t>(64, 0xFF);
  int writes = 0;
  uint8_t ReadByte(uint16_t offset) override { return bytes.at(offset); }
  void WriteByte(uint16_t offset, uint8_t value) override {
    bytes.at(offset) = value;
    ++writes;
  }
};

}  // namespace board_test
