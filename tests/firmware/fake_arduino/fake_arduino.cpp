#include <stdexcept>
#include <string>

#include "Arduino.h"
#include "EEPROM.h"
#include "Ethernet.h"
#include "EthernetUdp.h"
#include "fake_board.h"

namespace fake_arduino {
namespace {

void Record(const std::string& call) { Board().calls.push_back(call); }

std::string Arguments(int a, const char* b) { return "(" + std::to_string(a) + "," + b + ")"; }
std::string Arguments(int a, int b) {
  return "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}

}  // namespace

FakeBoard& Board() {
  static FakeBoard board;
  return board;
}

void ResetBoard() { Board() = FakeBoard(); }

void RestartBoard() {
  std::vector<uint8_t> eeprom = Board().eeprom;
  Board() = FakeBoard();
  Board().eeprom = eeprom;
}

}  // namespace fake_arduino

using fake_arduino::Board;
using fake_arduino::Record;

HardwareSerial Serial;
EthernetClass Ethernet;
EEPROMClass EEPROM;

void pinMode(uint8_t pin, uint8_t mode) {
  const char* name = mode == OUTPUT ? "OUTPUT" : mode == INPUT ? "INPUT" : "INPUT_PULLUP";
  Record("pinMode" + fake_arduino::Arguments(pin, name));
}

void digitalWrite(uint8_t pin, uint8_t value) {
  Record("digitalWrite" + fake_arduino::Arguments(pin, value == LOW ? "LOW" : "HIGH"));
}

int digitalRead(uint8_t pin) {
  Record("digitalRead(" + std::to_string(pin) + ")");
  auto found = Board().digital_inputs.find(pin);
  return found == Board().digital_inputs.end() ? LOW : found->second;
}

int analogRead(uint8_t pin) {
  Record("analogRead(" + std::to_string(pin) + ")");
  auto found = Board().analog_inputs.find(pin);
  return found == Board().analog_inputs.end() ? 0 : found->second;
}

void analogWrite(uint8_t pin, int value) {
  // Recorded as given, not clipped to the core's 0..255: a scaling fault in
  // the sketch then shows up in the call log.
  Record("analogWrite" + fake_arduino::Arguments(pin, value));
}

unsigned long millis() { return Board().now_ms; }

void HardwareSerial::begin(unsigned long baud) { Board().serial_baud = baud; }

int HardwareSerial::available() { return static_cast<int>(Board().serial_input.size()); }

int HardwareSerial::read() {
  if (Board().serial_input.empty()) return -1;
  uint8_t received = Board().serial_input.front();
  Board().serial_input.pop_front();
  return received;
}

size_t HardwareSerial::write(uint8_t value) {
  Board().serial_output.push_back(static_cast<char>(value));
  return 1;
}

size_t HardwareSerial::write(const uint8_t* buffer, size_t size) {
  Board().serial_output.append(reinterpret_cast<const char*>(buffer), size);
  return size;
}

size_t HardwareSerial::write(const char* text) {
  std::string bytes(text);
  Board().serial_output += bytes;
  return bytes.size();
}

void EthernetClass::begin(uint8_t* mac, IPAddress ip) {
  Board().mac.assign(mac, mac + 6);
  Board().ip = ip;
  // As the library does: the gateway is .1 of the address's network.
  Board().gateway = ip;
  Board().gateway[3] = 1;
  ++Board().ethernet_begins;
}

void EthernetClass::setMACAddress(const uint8_t* mac) { Board().mac.assign(mac, mac + 6); }

void EthernetClass::setLocalIP(const IPAddress ip) { Board().ip = ip; }

void EthernetClass::setGatewayIP(const IPAddress gateway) { Board().gateway = gateway; }

uint8_t EEPROMClass::read(int index) { return Board().eeprom.at(static_cast<size_t>(index)); }

void EEPROMClass::write(int index, uint8_t value) {
  Board().eeprom.at(static_cast<size_t>(index)) = value;
  ++Board().eeprom_writes;
}

void EEPROMClass::update(int index, uint8_t value) {
  if (read(index) != value) write(index, value);
}

uint8_t EthernetUDP::begin(uint16_t port) {
  Board().udp_port = port;
  return 1;
}

int EthernetUDP::parsePacket() {
  auto& board = Board();
  if (board.udp_sending) throw std::logic_error("parsePacket while a reply is open");
  if (board.udp_input.empty()) return 0;
  board.udp_current = board.udp_input.front();
  board.udp_input.pop_front();
  board.udp_read = 0;
  return static_cast<int>(board.udp_current.bytes.size());
}

int EthernetUDP::read(unsigned char* buffer, size_t length) {
  auto& board = Board();
  size_t left = board.udp_current.bytes.size() - board.udp_read;
  size_t count = length < left ? length : left;
  board.udp_current.bytes.copy(reinterpret_cast<char*>(buffer), count, board.udp_read);
  board.udp_read += count;
  return static_cast<int>(count);
}

IPAddress EthernetUDP::remoteIP() { return Board().udp_current.ip; }

uint16_t EthernetUDP::remotePort() { return Board().udp_current.port; }

int EthernetUDP::beginPacket(IPAddress ip, uint16_t port) {
  Board().udp_sending = true;
  Board().udp_pending = fake_arduino::Datagram{"", ip, port};
  return 1;
}

size_t EthernetUDP::write(const uint8_t* buffer, size_t size) {
  if (!Board().udp_sending) throw std::logic_error("write without beginPacket");
  Board().udp_pending.bytes.append(reinterpret_cast<const char*>(buffer), size);
  return size;
}

int EthernetUDP::endPacket() {
  if (!Board().udp_sending) throw std::logic_error("endPacket without beginPacket");
  Board().udp_sending = false;
  Board().udp_output.push_back(Board().udp_pending);
  return 1;
}
