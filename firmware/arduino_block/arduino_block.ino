// The board side of the Arduino block: answers the block's five-byte ASCII
// commands on pins 2..9 and the analog inputs A0..A5.
//
// The board is reached either over USB as a serial port or over Ethernet with
// a W5100-class shield.  The switch below chooses; everything else follows
// from it.  The protocol itself lives in src/ and is shared with the PC-side
// emulator, so the sketch only connects it to the hardware and to the link.

// 0: USB serial link.  1: Ethernet shield, UDP.
#ifndef ARDUINO_BLOCK_LINK_ETHERNET
#define ARDUINO_BLOCK_LINK_ETHERNET 0
#endif

#include "src/board_pins.h"
#include "src/board_protocol.h"
#include "src/firmware_version.h"
#include "src/serial_framer.h"

#if ARDUINO_BLOCK_LINK_ETHERNET
#include <EEPROM.h>
#include <Ethernet.h>
#include <EthernetUdp.h>
#include <SPI.h>

#include "src/flash_text.h"
#include "src/network_settings.h"
#include "src/setup_console.h"
#endif

#if ARDUINO_BLOCK_LINK_ETHERNET
// The block's dialog names the board by its address and sends to port 1600.
// Both the address and the MAC address live in EEPROM and are set over USB
// (src/setup_console.h, docs/firmware.md); a board never set up comes up on
// 192.168.0.121, where a new block sends, so the two meet.  The MAC address
// only has to be unique on your network (the shield's sticker has one).
//
// The USB port is free in this variant and carries the setup console, at
// the speed a terminal or the Arduino IDE's serial monitor starts at.
const unsigned long kSetupBaud = 9600;
#else
// Must match the baud rate chosen in the block's dialog: 9600, 19200, 38400
// or 115200.  To build for another speed by hand, change the number here;
// firmware/build.sh builds an image for each of the four with -D.
#ifndef ARDUINO_BLOCK_SERIAL_BAUD
#define ARDUINO_BLOCK_SERIAL_BAUD 9600
#endif
const unsigned long kSerialBaud = ARDUINO_BLOCK_SERIAL_BAUD;
#endif

// The protocol numbers pins as on an Uno: 14..19 are A0..A5.  The Mega puts
// A0 at 54 and pin 14 is its TX3, so the analog inputs are translated through
// the core's A0 rather than passed on as numbers.
uint8_t BoardPinOf(uint8_t pin) {
  if (pin >= board::kFirstAnalogPin)
    return static_cast<uint8_t>(A0 + (pin - board::kFirstAnalogPin));
  return pin;
}

class ArduinoPins : public board::BoardPins {
 public:
  void SetPinMode(uint8_t pin, board::PinMode mode) {
    pinMode(BoardPinOf(pin), mode == board::PinMode::kOutput ? OUTPUT : INPUT);
  }
  void WriteDigital(uint8_t pin, bool high) { digitalWrite(BoardPinOf(pin), high ? HIGH : LOW); }
  bool ReadDigital(uint8_t pin) { return digitalRead(BoardPinOf(pin)) == HIGH; }
  int16_t ReadAnalog(uint8_t pin) {
#ifdef ADSC
    if (converting_ != pin) StartAnalog(pin);
    converting_ = board::kNoPin;
    WaitForConversion();
    const uint8_t low = ADCL;  // ADCL first: reading it holds ADCH for this result
    const uint8_t high = ADCH;
    return static_cast<int16_t>((high << 8) | low);
#else
    return static_cast<int16_t>(analogRead(BoardPinOf(pin)));
#endif
  }
  // Starts converting analog input `pin` (14..19) so that a read of it that
  // follows finds the result ready, as analogRead would set the ADC up.  A
  // conversion already running is let finish: the ADC takes a new channel
  // only between conversions.
  void StartAnalog(uint8_t pin) {
#ifdef ADSC
    WaitForConversion();
    const uint8_t channel = static_cast<uint8_t>(pin - board::kFirstAnalogPin);
#ifdef MUX5
    ADCSRB &= static_cast<uint8_t>(~_BV(MUX5));  // A0..A5 are channels 0..5 on the Mega too
#endif
    ADMUX = static_cast<uint8_t>((DEFAULT << 6) | channel);
    ADCSRA |= _BV(ADSC);
    converting_ = pin;
#else
    (void)pin;
#endif
  }
  // The block sends 0..1023, analogWrite takes 0..255: dropping the two low
  // bits maps 1023 to 255 and 0 to 0 with no arithmetic the AVR has to work
  // at, and every step of 4 in the block is one step of the timer.
  void WritePwm(uint8_t pin, uint16_t value) { analogWrite(BoardPinOf(pin), value >> 2); }

 private:
#ifdef ADSC
  static void WaitForConversion() {
    while (bit_is_set(ADCSRA, ADSC)) {
    }
  }
#endif
  uint8_t converting_ = board::kNoPin;  // the analog input StartAnalog set converting
};

// The version stays in flash for whoever reads the image (avrboard prints it
// when it loads one).  The board never sends it: the block would take an
// unrequested line for the reply to its next command.
const char kFirmwareVersion[] PROGMEM = ARDUINO_BLOCK_FIRMWARE_MARK ARDUINO_BLOCK_VERSION;

// The linker drops data that no code uses; this use costs two instructions.
void KeepVersionInFlash() { asm volatile("" : : "r"(kFirmwareVersion)); }

ArduinoPins pins;
board::BoardProtocol protocol(pins);
board::Reply reply;

#if ARDUINO_BLOCK_LINK_ETHERNET

// The settings record in the AVR's own EEPROM.  update() leaves a byte that
// already holds its value unwritten: each cell lasts some 100 000 writes.
class EepromStorage : public board::SettingsStorage {
 public:
  uint8_t ReadByte(uint16_t offset) { return EEPROM.read(offset); }
  void WriteByte(uint16_t offset, uint8_t value) { EEPROM.update(offset, value); }
};

// The console answers on USB, one line at a time, with CR LF for terminals.
class SerialOutput : public board::ConsoleOutput {
 public:
  void Write(const char* text) { Serial.write(text); }
  void WriteFlash(const char* text) {
    for (char c = board::FlashByte(text); c != '\0'; c = board::FlashByte(++text)) {
      Serial.write(static_cast<uint8_t>(c));
    }
  }
  void EndLine() { Serial.write("\r\n"); }
};

EepromStorage eeprom_storage;
SerialOutput serial_output;
board::NetworkSettings settings;
board::SetupConsole console(eeprom_storage, settings, serial_output);
EthernetUDP udp;

IPAddress LocalAddress() {
  return IPAddress(settings.address[0], settings.address[1], settings.address[2],
                   settings.address[3]);
}

// Puts changed settings into the running shield.  Ethernet.begin would reset
// the chip and close the UDP socket; setting the registers keeps the socket,
// so the next datagram to the new address is answered.  The gateway follows
// the address as Ethernet.begin chooses it: .1 of the same /24.
void ApplySettings() {
  Ethernet.setMACAddress(settings.mac);
  IPAddress address = LocalAddress();
  Ethernet.setLocalIP(address);
  IPAddress gateway = address;
  gateway[3] = 1;
  Ethernet.setGatewayIP(gateway);
}

void setup() {
  KeepVersionInFlash();
  Serial.begin(kSetupBaud);
  board::LoadNetworkSettings(eeprom_storage, &settings);
  Ethernet.begin(settings.mac, LocalAddress());
  udp.begin(board::kUdpPort);
  // Once, so a person with a terminal, or blockhost, sees what the board
  // answers to; an Uno restarts when its USB port is opened, and prints it
  // again then.
  console.WriteShowLine();
}

// One datagram is one command.  At most this many bytes of it are read: a
// command with a line end is 7 bytes, so anything that fills the buffer is
// too long and the protocol answers "ERR bad length" for it.  The unread rest
// is discarded by the next parsePacket.
const uint8_t kDatagramBuffer = board::kCommandLength + 3;

void loop() {
  while (Serial.available() > 0) {
    if (console.Feed(static_cast<char>(Serial.read()))) ApplySettings();
  }
  const int size = udp.parsePacket();
  if (size <= 0) return;
  char command[kDatagramBuffer];
  int length = udp.read(reinterpret_cast<unsigned char*>(command), sizeof(command));
  if (length < 0) length = 0;
  protocol.Handle(command, static_cast<size_t>(length), &reply);
  // The reply goes back to whoever asked, so the block needs no fixed
  // address and several PCs can take turns.  Datagrams keep their own
  // boundaries, so the reply carries no line end.
  udp.beginPacket(udp.remoteIP(), udp.remotePort());
  udp.write(reinterpret_cast<const uint8_t*>(reply.text), reply.length);
  udp.endPacket();
}

#else

board::SerialFramer framer;

void setup() {
  KeepVersionInFlash();
  Serial.begin(kSerialBaud);
}

void loop() {
  while (Serial.available() > 0) {
    const char received = static_cast<char>(Serial.read());
    if (!framer.Feed(received, millis())) {
      // The reading is under way while the command's last bytes arrive.
      const uint8_t ahead = framer.AnalogReadAhead();
      if (ahead != board::kNoPin) pins.StartAnalog(ahead);
      continue;
    }
    protocol.Handle(framer.command(), framer.length(), &reply);
    // The block reads a reply up to its line feed; CR LF also suits a
    // person watching in a terminal.
    Serial.write(reinterpret_cast<const uint8_t*>(reply.text), reply.length);
    Serial.write("\r\n");
  }
}

#endif
