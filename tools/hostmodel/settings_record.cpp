#include "settings_record.h"

#include "arduino_block.h"

namespace hostmodel {

static_assert(5 + arduino::kDigitalPins + arduino::kAnalogInputs == arduino::kSettingsLines,
              "the record must have one field per line of the settings block");

static_assert(ARDUINO_BLOCK_INPUTS == arduino::kDigitalPins &&
                  ARDUINO_BLOCK_OUTPUTS == arduino::kDigitalPins + arduino::kAnalogInputs,
              "the block has an input per digital pin and an output per digital and analog pin");

std::string SettingsText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string FormatSettingsLines(const BlockSettings& s) {
  std::vector<std::string> lines = {std::to_string(s.interface_kind), std::to_string(s.com_port),
                                    std::to_string(s.baud_rate), s.address,
                                    std::to_string(s.udp_port)};
  for (int32_t mode : s.pin_mode) lines.push_back(std::to_string(mode));
  for (int32_t used : s.analog_used) lines.push_back(std::to_string(used));
  return SettingsText(lines);
}

void PrintTo(const BlockSettings& s, std::ostream* os) {
  *os << "{kind " << s.interface_kind << ", com " << s.com_port << ", baud " << s.baud_rate
      << ", port " << s.udp_port << ", \"" << s.address << "\", pins";
  for (int32_t p : s.pin_mode) *os << ' ' << p;
  *os << ", analog";
  for (int32_t a : s.analog_used) *os << ' ' << a;
  *os << '}';
}

}  // namespace hostmodel
