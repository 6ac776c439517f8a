// boardsim's command line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analog_source.h"

namespace boardsim {

enum class Transport { kUdp, kPty };

struct Options {
  Transport transport = Transport::kUdp;
  std::string udp_host;  // --udp ADDR:PORT
  uint16_t udp_port = 0;
  std::string pty_path;  // --pty PATH
  // --baud N: the speed the board's UART runs at.  Nothing: it answers at
  // whatever speed the peer sets, as no real board does.
  std::optional<int32_t> baud;

  std::vector<std::pair<uint8_t, uint8_t>> wires;  // (from, to)
  std::map<uint8_t, AnalogSource> analog;          // keyed by pin 14..19

  int delay_ms = 0;
  int late_ms = 0;
  double drop_rate = 0;
  uint32_t seed = 1;
  bool garbage = false;
  bool no_line_end = false;
  bool oversized = false;
  std::optional<uint16_t> reply_port;
  std::optional<long long> hangup_after;
  std::map<std::string, std::string> replies;  // exact command -> reply text
  std::string log_path;
};

// Fills *options from argv.  Returns nothing when boardsim should run;
// otherwise the exit status, after printing the help, the version, or the
// usage error naming the offending option.
std::optional<int> ParseOptions(int argc, char** argv, Options* options);

}  // namespace boardsim
