// avrboard's command line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "analog_source.h"
#include "usb_bridge.h"

namespace avrboard {

struct Options {
  std::string firmware_path;                         // --firmware ELF|HEX
  std::string mcu = "atmega328p";                    // --mcu: the Uno's chip or the Mega's
  std::string board;                                 // --board; after parsing never empty
  std::string pty_path;                              // --pty PATH
  std::string log_path;                              // --log FILE
  std::map<uint8_t, bool> digital_inputs;            // --pin N=low|high, keyed by pin 2..9
  std::map<uint8_t, boardsim::AnalogSource> analog;  // --adc AN=..., keyed by 14..19
  std::optional<uint16_t> ethernet_port;             // --ethernet 127.0.0.1:PORT
  std::string eeprom_path;                           // --eeprom FILE
  std::string exchanges_path;                        // --exchanges FILE
  bool verbose = false;                              // --verbose: simavr's own messages
  bool bootloader = false;                           // --bootloader[=HEX]
  std::string bootloader_path;                       // its HEX; empty: the board's own
  std::string flash_path;                            // --flash FILE
  BridgeChoice bridge;                               // --bridge: the USB bridge modelled
};

// avrboard's exit status for a bad command line, and for an image that is
// for another chip than --mcu names.
constexpr int kUsageStatus = 2;

// Fills *options from argv.  Returns nothing when avrboard should run;
// otherwise the exit status, after printing the help, the version, or the
// usage error naming the offending option and what was wrong with it.
std::optional<int> ParseOptions(int argc, char** argv, Options* options);

}  // namespace avrboard
