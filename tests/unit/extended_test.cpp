// The 10-byte values of the host's arrays.
#include "base/extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace arduino {
namespace {

using Limits = std::numeric_limits<long double>;

TEST(ExtendedTest, KnownBytes) {
  unsigned char bytes[10];
  WriteExtended(bytes, 1.0L);
  const unsigned char one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xff, 0x3f};
  EXPECT_EQ(std::memcmp(bytes, one, 10), 0);
  const unsigned char minus_1023[10] = {0, 0, 0, 0, 0, 0, 0xc0, 0xff, 0x08, 0xc0};
  EXPECT_EQ(ReadExtended(minus_1023), -1023.0L);
}

// The portable codec must agree bit for bit with the x87 format wherever
// the machine has it, so that a platform without it reads the same arrays.
TEST(ExtendedTest, SoftwareCodecMatchesTheHardwareFormat) {
  if (Limits::digits != 64) GTEST_SKIP() << "long double is not the x87 format here";
  std::vector<long double> values = {0.0L,
                                     -0.0L,
                                     1.0L,
                                     -2.5L,
                                     1023.0L,
                                     1100.2L,
                                     0.1L,
                                     Limits::max(),
                                     Limits::lowest(),
                                     Limits::min(),
                                     Limits::denorm_min(),
                                     Limits::min() / 3,
                                     Limits::infinity(),
                                     -Limits::infinity()};
  std::mt19937_64 random(7);
  for (int i = 0; i < 1000; ++i) {
    values.push_back(
        std::ldexp(static_cast<long double>(random()), static_cast<int>(random() % 200) - 100) *
        (i % 2 ? 1 : -1));
  }
  for (long double value : values) {
    unsigned char hardware[16] = {}, software[16] = {};
    std::memcpy(hardware, &value, 10);
    EncodeExtendedSoftware(software, value);
    EXPECT_EQ(std::memcmp(hardware, software, 10), 0) << static_cast<double>(value);
    long double decoded = DecodeExtendedSoftware(hardware);
    EXPECT_EQ(std::memcmp(&decoded, &value, 10), 0) << static_cast<double>(value);
  }
  unsigned char nan[10];
  EncodeExtendedSoftware(nan, Limits::quiet_NaN());
  EXPECT_TRUE(std::isnan(ReadExtended(nan)));
  EXPECT_TRUE(std::isnan(DecodeExtendedSoftware(nan)));
}

}  // namespace
}  // namespace arduino
