#include "network_settings.h"

namespace board {
namespace {

const uint8_t kMagic[2] = {0xAB, 0x16};
const uint8_t kLayoutVersion = 1;
const uint16_t kAddressOffset = 3;
const uint16_t kMacOffset = kAddressOffset + 4;
const uint16_t kChecksumOffset = kMacOffset + 6;

// Fletcher-16 over the record's first `length` bytes.  Unlike a plain sum it
// notices bytes that trade places.
uint16_t Checksum(const uint8_t* bytes, uint16_t length) {
  uint16_t low = 0, high = 0;
  for (uint16_t i = 0; i < length; ++i) {
    low = static_cast<uint16_t>((low + bytes[i]) % 255);
    high = static_cast<uint16_t>((high + low) % 255);
  }
  return static_cast<uint16_t>(high << 8 | low);
}

void Encode(const NetworkSettings& settings, uint8_t* record) {
  record[0] = kMagic[0];
  record[1] = kMagic[1];
  record[2] = kLayoutVersion;
  for (uint8_t i = 0; i < 4; ++i) record[kAddressOffset + i] = settings.address[i];
  for (uint8_t i = 0; i < 6; ++i) record[kMacOffset + i] = settings.mac[i];
  const uint16_t checksum = Checksum(record, kChecksumOffset);
  record[kChecksumOffset] = static_cast<uint8_t>(checksum >> 8);
  record[kChecksumOffset + 1] = static_cast<uint8_t>(checksum & 0xFF);
}

}  // namespace

NetworkSettings DefaultNetworkSettings() {
  NetworkSettings settings = {{192, 168, 0, 121}, {0xDE, 0xAD, 0xBE, 0xEF, 0x16, 0x00}};
  return settings;
}

bool LoadNetworkSettings(SettingsStorage& storage, NetworkSettings* settings) {
  uint8_t record[kSettingsRecordSize];
  for (uint16_t i = 0; i < kSettingsRecordSize; ++i) record[i] = storage.ReadByte(i);
  const uint16_t checksum = Checksum(record, kChecksumOffset);
  NetworkSettings stored;
  for (uint8_t i = 0; i < 4; ++i) stored.address[i] = record[kAddressOffset + i];
  for (uint8_t i = 0; i < 6; ++i) stored.mac[i] = record[kMacOffset + i];
  // A record that passes the checksum but holds values the console would
  // refuse is not ours either.
  const bool valid = record[0] == kMagic[0] && record[1] == kMagic[1] &&
                     record[2] == kLayoutVersion &&
                     record[kChecksumOffset] == static_cast<uint8_t>(checksum >> 8) &&
                     record[kChecksumOffset + 1] == static_cast<uint8_t>(checksum & 0xFF) &&
                     IsUsableAddress(stored.address) && IsUsableMac(stored.mac);
  *settings = valid ? stored : DefaultNetworkSettings();
  return valid;
}

void SaveNetworkSettings(SettingsStorage& storage, const NetworkSettings& settings) {
  uint8_t record[kSettingsRecordSize];
  Encode(settings, record);
  for (uint16_t i = 0; i < kSettingsRecordSize; ++i) storage.WriteByte(i, record[i]);
}

bool IsUsableAddress(const uint8_t address[4]) {
  if (address[0] == 0 || address[0] == 127 || address[0] >= 224) return false;
  return address[3] != 0 && address[3] != 255;
}

bool IsUsableMac(const uint8_t mac[6]) {
  if (mac[0] & 0x01) return false;
  for (uint8_t i = 0; i < 6; ++i) {
    if (mac[i] != 0) return true;
  }
  return false;
}

}  // namespace board
