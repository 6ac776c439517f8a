// The host's 80-bit extended values: 10 bytes each, packed, little-endian,
// in the x87 layout (64-bit mantissa with explicit integer bit, 15-bit
// exponent, sign).
#pragma once

#include <cstddef>

namespace arduino {

constexpr size_t kExtendedSize = 10;

long double ReadExtended(const void* bytes);
void WriteExtended(void* bytes, long double value);

// The portable codec used where long double is not the x87 format; exposed
// so that it can be checked against the hardware format where it is.
long double DecodeExtendedSoftware(const unsigned char* bytes);
void EncodeExtendedSoftware(unsigned char* bytes, long double value);

// Element `index` of a host value array.
inline long double ReadValue(const void* array, size_t index) {
  return ReadExtended(static_cast<const unsigned char*>(array) + index * kExtendedSize);
}
inline void WriteValue(void* array, size_t index, long double value) {
  WriteExtended(static_cast<unsigned char*>(array) + index * kExtendedSize, value);
}

}  // namespace arduino
