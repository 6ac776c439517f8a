// The block's settings as named fields, in the order of the 19 lines the
// library writes to the project file and reads back.  The library owns the
// format; programs around it build and read the lines through this record.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tool_api/block_codes.h"
#include "tool_api/settings_block.h"

namespace hostmodel {

struct BlockSettings {
  int32_t interface_kind = 0;  // arduino::kInterfaceEthernet or kInterfaceUsb
  int32_t com_port = 0;
  int32_t baud_rate = 0;
  std::string address;
  int32_t udp_port = 0;
  std::array<int32_t, arduino::kDigitalPins> pin_mode{};  // pins 2..9
  std::array<int32_t, arduino::kAnalogInputs> analog_used{};

  bool OverSerial() const { return interface_kind == arduino::kInterfaceUsb; }
  bool operator==(const BlockSettings&) const = default;
};

// A pin in one of these modes is driven from the block's input.
constexpr bool DrivesPin(int32_t mode) {
  return mode == arduino::pmDigitalOutput || mode == arduino::pmPWMOutput;
}

// The lines as the project file holds them: every one followed by CR LF.
std::string SettingsText(const std::vector<std::string>& lines);
std::string FormatSettingsLines(const BlockSettings& settings);

// For test failures: every field on one line.
void PrintTo(const BlockSettings& settings, std::ostream* os);

}  // namespace hostmodel
