// The Ethernet library's start-up call, its setters of the chip's
// addresses and its address type, as the sketch uses them.
#pragma once

#include <stdint.h>

class IPAddress {
 public:
  IPAddress() : bytes_{0, 0, 0, 0} {}
  IPAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) : bytes_{a, b, c, d} {}
  uint8_t operator[](int index) const { return bytes_[index]; }
  uint8_t& operator[](int index) { return bytes_[index]; }
  bool operator==(const IPAddress& other) const {
    return bytes_[0] == other.bytes_[0] && bytes_[1] == other.bytes_[1] &&
           bytes_[2] == other.bytes_[2] && bytes_[3] == other.bytes_[3];
  }

 private:
  uint8_t bytes_[4];
};

class EthernetClass {
 public:
  void begin(uint8_t* mac, IPAddress ip);
  void setMACAddress(const uint8_t* mac);
  void setLocalIP(const IPAddress ip);
  void setGatewayIP(const IPAddress gateway);
};

extern EthernetClass Ethernet;
