// The Ethernet image's setup console on the USB serial port, which that
// image does not otherwise use: a person in a terminal, or `blockhost
// board-address`, shows and changes the board's address and MAC address.
//
// One command per line (CR, LF or both end it; empty lines are ignored),
// one answer line per command:
//
//   show                      arduino-block ethernet A.B.C.D port 1600 mac M
//   address                   address A.B.C.D
//   address A.B.C.D           address A.B.C.D saved
//   mac                       mac M
//   mac XX:XX:XX:XX:XX:XX     mac M saved
//   reset                     defaults saved: address 192.168.0.121 mac ...
//   help                      commands: ...
//
// Anything else, or a value the board cannot take, gets one line starting
// "error: " and changes nothing.  The "show" answer is also the line the
// sketch prints at start, and the one by which a program recognises this
// image.  Commands are taken in any case; MACs print in upper case.
#pragma once

#include <stdint.h>

#include "network_settings.h"

namespace board {

// Where the console's answers go: the sketch's Serial, a string in tests.
class ConsoleOutput {
 public:
  // Text in RAM.
  virtual void Write(const char* text) = 0;
  // Text made with BOARD_FLASH_TEXT (flash_text.h).
  virtual void WriteFlash(const char* text) = 0;
  // Ends the answer line.
  virtual void EndLine() = 0;

 protected:
  // Not virtual, as for BoardPins: nothing deletes through it.
  ~ConsoleOutput() = default;
};

// The longest command line taken, without its line end.  A MAC command is 21
// characters; room for some spaces around it.
const uint8_t kConsoleLineCapacity = 32;

class SetupConsole {
 public:
  // `settings` is the board's current settings, which the console changes
  // and saves to `storage`.
  SetupConsole(SettingsStorage& storage, NetworkSettings& settings, ConsoleOutput& output);

  // Takes one received byte.  Returns true when it ended a command that
  // changed the settings: the caller then applies them to the shield.
  bool Feed(char byte);

  // Writes the "show" line: "arduino-block ethernet A.B.C.D port 1600 mac M".
  void WriteShowLine();

 private:
  bool HandleLine();
  bool HandleAddress(const char* argument);
  bool HandleMac(const char* argument);
  bool HandleReset(const char* argument);
  void WriteAddress();
  void WriteAddressDigits();
  void WriteMac();
  void WriteError(const char* flash_text, const char* argument);

  SettingsStorage& storage_;
  NetworkSettings& settings_;
  ConsoleOutput& output_;
  char line_[kConsoleLineCapacity + 1];
  uint8_t length_;
  bool overflowed_;  // the line outgrew line_ and is being skipped to its end
};

// Parses "A.B.C.D" (four decimal numbers 0..255, no leading '+', at most
// three digits each).  False, leaving `address` alone, for anything else.
bool ParseAddress(const char* text, uint8_t address[4]);
// Parses six pairs of hex digits separated by ':' or '-'.
bool ParseMac(const char* text, uint8_t mac[6]);

}  // namespace board
