// The core's EEPROM library, over a byte array in fake_board.h that starts
// blank (all 0xFF) as a new board's does.
#pragma once

#include <stdint.h>

class EEPROMClass {
 public:
  uint8_t read(int index);
  void write(int index, uint8_t value);
  // Writes only when the value differs, as the real one does to spare the
  // cells.
  void update(int index, uint8_t value);
};

extern EEPROMClass EEPROM;
