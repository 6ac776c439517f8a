#include "base/extended.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace arduino {
namespace {

// Where long double is the x87 format itself, a value is its first 10 bytes.
constexpr bool kNativeX87 = std::numeric_limits<long double>::digits == 64 &&
                            std::numeric_limits<long double>::max_exponent == 16384;

}  // namespace

long double DecodeExtendedSoftware(const unsigned char* b) {
  uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = (mantissa << 8) | b[i];
  int exponent = ((b[9] & 0x7f) << 8) | b[8];
  bool negative = (b[9] & 0x80) != 0;
  long double value;
  if (exponent == 0x7fff) {
    value = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                                 : std::numeric_limits<long double>::quiet_NaN();
  } else {
    int unbiased = exponent == 0 ? -16382 : exponent - 16383;
    value = std::ldexp(static_cast<long double>(mantissa), unbiased - 63);
  }
  return negative ? -value : value;
}

void EncodeExtendedSoftware(unsigned char* b, long double value) {
  bool negative = std::signbit(value);
  uint64_t mantissa = 0;
  int exponent = 0;
  if (std::isnan(value)) {
    exponent = 0x7fff;
    mantissa = 0xC000000000000000ull;
  } else if (std::isinf(value)) {
    exponent = 0x7fff;
    mantissa = 0x8000000000000000ull;
  } else if (value != 0) {
    int e = 0;
    long double fraction = std::frexp(std::fabs(value), &e);  // [0.5, 1)
    exponent = e - 1 + 16383;
    if (exponent > 0) {
      mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
    } else {
      // Below the normal range the integer bit is 0 and the exponent field
      // stays 0, which scales the mantissa by 2^(-16382-63).
      mantissa = static_cast<uint64_t>(std::ldexp(std::fabs(value), 16382 + 63));
      exponent = 0;
    }
  }
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  b[8] = static_cast<unsigned char>(exponent);
  b[9] = static_cast<unsigned char>((exponent >> 8) | (negative ? 0x80 : 0));
}

long double ReadExtended(const void* bytes) {
  if constexpr (kNativeX87) {
    long double value = 0;
    std::memcpy(&value, bytes, kExtendedSize);
    return value;
  } else {
    return DecodeExtendedSoftware(static_cast<const unsigned char*>(bytes));
  }
}

void WriteExtended(void* bytes, long double value) {
  if constexpr (kNativeX87) {
    std::memcpy(bytes, &value, kExtendedSize);
  } else {
    EncodeExtendedSoftware(static_cast<unsigned char*>(bytes), value);
  }
}

}  // namespace arduino
