// The chip's EEPROM kept in a file between runs, byte for byte as the chip
// holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace avrboard {

// Reads `size` bytes from `path` into *bytes.  A missing file is a blank
// EEPROM (every byte 0xFF, as erased); a file of another size or one that
// cannot be read is an error, with *error saying which.
bool LoadEepromFile(const std::string& path, size_t size, std::vector<uint8_t>* bytes,
                    std::string* error);

// Writes `bytes` to `path` through a temporary file beside it and a rename,
// so that the file always holds either the old or the new contents.
bool SaveEepromFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace avrboard
