// The test's side of the fake Arduino: what the sketch did to the pins and
// the links, and the inputs it will see.
#pragma once

#include <stdint.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "Ethernet.h"

namespace fake_arduino {

struct Datagram {
  std::string bytes;
  IPAddress ip;
  uint16_t port = 0;
};

struct FakeBoard {
  // Every call into the core that touches a pin, e.g. "pinMode(3,OUTPUT)",
  // "digitalWrite(3,HIGH)", "analogWrite(5,128)", "analogRead(54)".
  std::vector<std::string> calls;
  std::map<uint8_t, int> digital_inputs;  // levels digitalRead returns
  std::map<uint8_t, int> analog_inputs;   // counts analogRead returns
  unsigned long now_ms = 0;

  unsigned long serial_baud = 0;  // 0 until Serial.begin
  std::deque<uint8_t> serial_input;
  std::string serial_output;

  std::vector<uint8_t> mac;
  IPAddress ip;
  IPAddress gateway;
  int ethernet_begins = 0;  // Ethernet.begin calls, each a reset of the chip

  // The AVR's EEPROM as the sketch left it, and how many bytes it wrote.
  // ResetBoard blanks it; a test that restarts the board keeps it.
  std::vector<uint8_t> eeprom = std::vector<uint8_t>(1024, 0xFF);
  int eeprom_writes = 0;
  int udp_port = -1;  // -1 until udp.begin
  std::deque<Datagram> udp_input;
  std::vector<Datagram> udp_output;
  // The datagram parsePacket last started on, and how much of it was read.
  Datagram udp_current;
  size_t udp_read = 0;
  // Set between beginPacket and endPacket.
  bool udp_sending = false;
  Datagram udp_pending;
};

// The one board every fake call acts on.
FakeBoard& Board();
// Puts the board back as it is before setup(), with a blank EEPROM.
void ResetBoard();
// Puts the board back as it is before setup() but keeps the EEPROM, as a
// reset or a power cycle does.
void RestartBoard();

}  // namespace fake_arduino
