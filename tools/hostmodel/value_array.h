// A host's value array: packed 10-byte x87 extended values, one per input or
// output, as the block reads and writes them.  blockhost, the harness, the
// tests and the benches all hand the block their values in one of these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "arduino_block.h"

namespace hostmodel {

// On x86 a long double is the 80-bit format itself, padded; its first ten
// bytes are the value as the block stores it.
static_assert(sizeof(long double) >= ARDUINO_BLOCK_EXTENDED_SIZE,
              "long double must hold the 80-bit extended format");

class ValueArray {
 public:
  explicit ValueArray(size_t count, long double fill = 0.0L)
      : bytes_(count * ARDUINO_BLOCK_EXTENDED_SIZE) {
    for (size_t i = 0; i < count; ++i) Set(i, fill);
  }
  // The arrays a host hands the block at each step: one value per input,
  // one per output.
  static ValueArray Inputs(long double fill = 0.0L) {
    return ValueArray(ARDUINO_BLOCK_INPUTS, fill);
  }
  static ValueArray Outputs(long double fill = 0.0L) {
    return ValueArray(ARDUINO_BLOCK_OUTPUTS, fill);
  }

  long double operator[](size_t i) const {
    long double value = 0.0L;
    std::memcpy(&value, bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE,
                ARDUINO_BLOCK_EXTENDED_SIZE);
    return value;
  }
  void Set(size_t i, long double value) {
    std::memcpy(bytes_.data() + i * ARDUINO_BLOCK_EXTENDED_SIZE, &value,
                ARDUINO_BLOCK_EXTENDED_SIZE);
  }
  size_t size() const { return bytes_.size() / ARDUINO_BLOCK_EXTENDED_SIZE; }
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace hostmodel
