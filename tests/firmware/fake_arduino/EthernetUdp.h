// UDP on the Ethernet shield, with the datagrams coming from and going to
// queues in fake_board.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "Ethernet.h"

class EthernetUDP {
 public:
  uint8_t begin(uint16_t port);
  // Starts on the next queued datagram, dropping what is left of the current
  // one, and returns its size, or 0 when none is waiting.
  int parsePacket();
  int read(unsigned char* buffer, size_t length);
  IPAddress remoteIP();
  uint16_t remotePort();
  int beginPacket(IPAddress ip, uint16_t port);
  size_t write(const uint8_t* buffer, size_t size);
  int endPacket();
};
