// The Ethernet image's own address and MAC address, kept in the board's
// EEPROM so that a board set up once over USB keeps them across resets and
// power cuts.  The record is guarded by a magic number and a checksum: a
// blank EEPROM, one another sketch wrote, or a save cut short by a power
// cut reads as "no settings", and the board comes up on the defaults.
#pragma once

#include <stdint.h>

namespace board {

// The block's dialog names the board by its address and sends to this
// port; the port is part of the protocol and cannot be changed.
const uint16_t kUdpPort = 1600;

struct NetworkSettings {
  uint8_t address[4];
  uint8_t mac[6];
};

// What a new block sends to, so a freshly flashed board and a new block
// meet: 192.168.0.121 and DE:AD:BE:EF:16:00.
NetworkSettings DefaultNetworkSettings();

// Where the record lives.  The sketch puts the AVR's EEPROM behind it, the
// tests a byte array.
class SettingsStorage {
 public:
  virtual uint8_t ReadByte(uint16_t offset) = 0;
  // Writes one byte; writing the value already there may do nothing (the
  // EEPROM wears with every write).
  virtual void WriteByte(uint16_t offset, uint8_t value) = 0;

 protected:
  // Not virtual, as for BoardPins: nothing deletes through it.
  ~SettingsStorage() = default;
};

// The record: two bytes of magic, a layout version, the address, the MAC
// and a Fletcher-16 checksum of all before it, from offset 0.
const uint16_t kSettingsRecordSize = 2 + 1 + 4 + 6 + 2;

// Fills *settings from storage and returns true, or fills it with the
// defaults and returns false when storage holds no valid record.
bool LoadNetworkSettings(SettingsStorage& storage, NetworkSettings* settings);
// Writes the record, checksum last, so that a save cut short fails the
// check rather than passing with half the new values.
void SaveNetworkSettings(SettingsStorage& storage, const NetworkSettings& settings);

// Addresses the board cannot usefully take, given the 255.255.255.0 subnet
// mask that Ethernet.begin assumes: 0.x.x.x, loopback 127.x.x.x, multicast
// and reserved 224 and up, and the network's own .0 and broadcast .255.
bool IsUsableAddress(const uint8_t address[4]);
// A MAC address must not be all zero nor have the group bit set.
bool IsUsableMac(const uint8_t mac[6]);

}  // namespace board
