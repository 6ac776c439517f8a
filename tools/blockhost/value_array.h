// A host value array: packed 10-byte x87 extended values, one per input or
// output, as the block reads and writes them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "arduino_block.h"

namespace blockhost {

static_assert(sizeof(long double) >= ARDUINO_BLOCK_EXTENDED_SIZE,
              "long double must hold the 80-bit extended format");

class ValueArray {
 public:
  explicit ValueArray(size_t count) : bytes_(count * ARDUINO_BLOCK_EXTENDED_SIZE, 0) {
    for (size_t i = 0; i < count; ++i) Set(i, 0.0L);
  }
  long double Get(size_t i) const {
    long double value = 0.0L;
    std::memcpy(&value, bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE,
                ARDUINO_BLOCK_EXTENDED_SIZE);
    return value;
  }
  void Set(size_t i, long double value) {
    std::memcpy(bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE, &value,
                ARDUINO_BLOCK_EXTENDED_SIZE);
  }
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace blockhost
