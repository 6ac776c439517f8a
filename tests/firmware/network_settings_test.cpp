// The Ethernet image's settings record: what survives a restart, and what
// makes the board fall back to its defaults.
#include "network_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_storage.h"

namespace {

using board::NetworkSettings;
using board_test::FakeStorage;

bool SameSettings(const NetworkSettings& a, const NetworkSettings& b) {
  return std::memcmp(a.address, b.address, 4) == 0 && std::memcmp(a.mac, b.mac, 6) == 0;
}

const NetworkSettings kChanged = {{10, 0, 0, 50}, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}};

TEST(NetworkSettingsTest, DefaultsAreWhereANewBlockSends) {
  const NetworkSettings defaults = board::DefaultNetworkSettings();
  const NetworkSettings expected = {{192, 168, 0, 121}, {0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x00}};
  EXPECT_TRUE(SameSettings(defaults, expected));
  EXPECT_EQ(board::kUdpPort, 1600);
}

TEST(NetworkSettingsTest, BlankOrZeroedStorageGivesTheDefaults) {
  for (uint8_t fill : {0xFF, 0x00}) {
    FakeStorage storage;
    storage.bytes.assign(storage.bytes.size(), fill);
    NetworkSettings loaded = kChanged;
    EXPECT_FALSE(board::LoadNetworkSettings(storage, &loaded)) << "fill " << int(fill);
    EXPECT_TRUE(SameSettings(loaded, board::DefaultNetworkSettings())) << "fill " << int(fill);
    EXPECT_EQ(storage.writes, 0) << "loading never writes";
  }
}

TEST(NetworkSettingsTest, SavedSettingsLoadBack) {
  FakeStorage storage;
  board::SaveNetworkSettings(storage, kChanged);
  NetworkSettings loaded = board::DefaultNetworkSettings();
  EXPECT_TRUE(board::LoadNetworkSettings(storage, &loaded));
  EXPECT_TRUE(SameSettings(loaded, kChanged));
  // The record stays within its size, so whatever lies after it is safe.
  for (size_t i = board::kSettingsRecordSize; i < storage.bytes.size(); ++i) {
    EXPECT_EQ(storage.bytes[i], 0xFF) << "byte " << i;
  }
}

// Any single byte of the record gone wrong (another sketch's data, a save
// cut short, a worn cell) makes the board ignore the whole record.
TEST(NetworkSettingsTest, AnyCorruptByteGivesTheDefaults) {
  for (uint16_t offset = 0; offset < board::kSettingsRecordSize; ++offset) {
    for (uint8_t flip : {0x01, 0x80}) {
      FakeStorage storage;
      board::SaveNetworkSettings(storage, kChanged);
      storage.bytes[offset] ^= flip;
      NetworkSettings loaded = kChanged;
      EXPECT_FALSE(board::LoadNetworkSettings(storage, &loaded)) << "offset " << offset;
      EXPECT_TRUE(SameSettings(loaded, board::DefaultNetworkSettings())) << "offset " << offset;
    }
  }
}

TEST(NetworkSettingsTest, SwappedBytesAreNoticed) {
  FakeStorage storage;
  board::SaveNetworkSettings(storage, kChanged);
  std::swap(storage.bytes[3], storage.bytes[6]);  // 10.0.0.50 as 50.0.0.10
  NetworkSettings loaded;
  EXPECT_FALSE(board::LoadNetworkSettings(storage, &loaded));
}

TEST(NetworkSettingsTest, ARecordWithAnUnusableAddressIsNotTaken) {
  FakeStorage storage;
  NetworkSettings bad = kChanged;
  bad.address[3] = 255;
  board::SaveNetworkSettings(storage, bad);
  NetworkSettings loaded;
  EXPECT_FALSE(board::LoadNetworkSettings(storage, &loaded));
  EXPECT_TRUE(SameSettings(loaded, board::DefaultNetworkSettings()));
}

TEST(NetworkSettingsTest, UsableAddresses) {
  struct Case {
    uint8_t address[4];
    bool usable;
  };
  const Case cases[] = {
      {{192, 168, 0, 121}, true},   {{10, 0, 0, 50}, true},        {{1, 2, 3, 4}, true},
      {{223, 255, 255, 254}, true}, {{0, 1, 2, 3}, false},         {{127, 0, 0, 1}, false},
      {{224, 0, 0, 1}, false},      {{255, 255, 255, 255}, false}, {{10, 0, 0, 0}, false},
      {{10, 0, 0, 255}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(board::IsUsableAddress(c.address), c.usable)
        << int(c.address[0]) << "." << int(c.address[1]) << "." << int(c.address[2]) << "."
        << int(c.address[3]);
  }
}

TEST(NetworkSettingsTest, UsableMacs) {
  const uint8_t sticker[6] = {0x90, 0xA2, 0xDA, 0x0F, 0x12, 0x34};
  const uint8_t zero[6] = {0, 0, 0, 0, 0, 0};
  const uint8_t group[6] = {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
  const uint8_t local[6] = {0x02, 0, 0, 0, 0, 1};
  EXPECT_TRUE(board::IsUsableMac(sticker));
  EXPECT_TRUE(board::IsUsableMac(local));
  EXPECT_FALSE(board::IsUsableMac(zero));
  EXPECT_FALSE(board::IsUsableMac(group));
}

}  // namespace
