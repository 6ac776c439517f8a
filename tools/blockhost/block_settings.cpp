#include "block_settings.h"

#include <optional>
#include <vector>

#include "errors.h"
#include "number_text.h"
#include "tool_api/setting_rules.h"
#include "tool_api/settings_block.h"

namespace blockhost {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

struct Word {
  std::string_view text;
  int32_t value;
};
constexpr Word kInterfaceWords[] = {{"ethernet", arduino::kInterfaceEthernet},
                                    {"udp", arduino::kInterfaceEthernet},
                                    {"usb", arduino::kInterfaceUsb},
                                    {"serial", arduino::kInterfaceUsb}};
constexpr Word kPinModeWords[] = {{"unused", arduino::pmUnused},
                                  {"input", arduino::pmDigitalInput},
                                  {"output", arduino::pmDigitalOutput},
                                  {"pwm", arduino::pmPWMOutput}};
constexpr Word kAnalogWords[] = {{"unused", 0}, {"used", 1}};

std::optional<int32_t> ParseInt(std::string_view text) {
  return tool_cli::ParseNumber<int32_t>(text);
}

template <size_t N>
int32_t ParseCoded(std::string_view key, std::string_view value, const Word (&words)[N]) {
  for (const Word& word : words) {
    if (value == word.text) return word.value;
  }
  if (auto number = ParseInt(value)) return *number;
  std::string known;
  for (const Word& word : words) known += std::string(known.empty() ? "" : ", ") += word.text;
  throw UsageError(std::string(key) + ": '" + std::string(value) + "' is none of " + known +
                   " and no integer");
}

int32_t ParsePlain(std::string_view key, std::string_view value) {
  if (auto number = ParseInt(value)) return *number;
  throw UsageError(std::string(key) + ": '" + std::string(value) + "' is no integer");
}

// "comport=COM3" names the port as the user sees it.
int32_t ParseComPort(std::string_view value) {
  if (auto number = arduino::ParseComPortText(value)) return *number;
  throw UsageError("comport: '" + std::string(value) + "' is no COM port number (3 or COM3)");
}

// A value `set` takes without --force: one the dialog could store.
void Judge(std::string_view key, const std::optional<std::string>& refusal) {
  if (refusal) throw UsageError(std::string(key) + ": " + *refusal + "; --force writes it anyway");
}

template <size_t N>
std::string WordOf(int32_t value, const Word (&words)[N]) {
  for (const Word& word : words) {
    if (word.value == value) return std::string(word.text);
  }
  return "unknown code";
}

}  // namespace

std::string InterfaceWord(int32_t kind) {
  return kind == arduino::kInterfaceEthernet ? "ethernet"
         : kind == arduino::kInterfaceUsb    ? "usb"
                                             : "unknown code";
}

std::string PinModeWord(int32_t mode) { return WordOf(mode, kPinModeWords); }

BlockSettings ParseSettingsLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find(kLineEnd);
    if (end == text.npos) throw InputError("the block wrote a settings line without CR LF");
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + kLineEnd.size());
  }
  if (lines.size() != arduino::kSettingsLines) {
    throw InputError("the block wrote " + std::to_string(lines.size()) + " settings lines, not " +
                     std::to_string(arduino::kSettingsLines));
  }
  size_t next = 0;
  auto integer = [&] {
    std::string_view line = lines[next++];
    if (auto value = ParseInt(line)) return *value;
    throw InputError("settings line " + std::to_string(next) + " ('" + std::string(line) +
                     "') is no integer");
  };
  BlockSettings s;
  s.interface_kind = integer();
  s.com_port = integer();
  s.baud_rate = integer();
  s.address = std::string(lines[next++]);
  s.udp_port = integer();
  for (int32_t& mode : s.pin_mode) mode = integer();
  for (int32_t& used : s.analog_used) used = integer();
  return s;
}

namespace {

void Apply(std::string_view assignment, BlockSettings* s, bool judge) {
  size_t equals = assignment.find('=');
  if (equals == assignment.npos || equals == 0) {
    throw UsageError("'" + std::string(assignment) + "' is not KEY=VALUE");
  }
  std::string_view key = assignment.substr(0, equals);
  std::string_view value = assignment.substr(equals + 1);
  if (key == "interface") {
    const int32_t kind = ParseCoded(key, value, kInterfaceWords);
    if (judge) Judge(key, arduino::InterfaceRefusal(kind));
    s->interface_kind = kind;
  } else if (key == "comport") {
    const int32_t port = ParseComPort(value);
    if (judge) Judge(key, arduino::ComPortRefusal(port));
    s->com_port = port;
  } else if (key == "baud") {
    const int32_t rate = ParsePlain(key, value);
    if (judge) Judge(key, arduino::BaudRateRefusal(rate));
    s->baud_rate = rate;
  } else if (key == "address") {
    // A line break would shift every later line of the settings block.
    if (value.find_first_of("\r\n") != value.npos) {
      throw UsageError("address: a line break cannot be part of an address");
    }
    // The file's limit, whatever --force says: the block could not read the
    // line back.
    if (value.size() > static_cast<size_t>(arduino::kMaxWrittenLineText)) {
      throw UsageError("address: " + std::to_string(value.size()) + " characters, more than the " +
                       std::to_string(arduino::kMaxWrittenLineText) +
                       " a line of the project file holds");
    }
    s->address = std::string(value);
  } else if (key == "udpport") {
    const int32_t port = ParsePlain(key, value);
    if (judge) Judge(key, arduino::UdpPortRefusal(port));
    s->udp_port = port;
  } else if (key.size() == 4 && key.starts_with("pin") && key[3] >= '2' && key[3] <= '9') {
    const int pin = key[3] - '0';
    const int32_t mode = ParseCoded(key, value, kPinModeWords);
    if (judge) Judge(key, arduino::PinModeRefusal(pin, mode));
    s->pin_mode[pin - kFirstPin] = mode;
  } else if (key.size() == 2 && key[0] == 'a' && key[1] >= '0' && key[1] <= '5') {
    const int32_t used = ParseCoded(key, value, kAnalogWords);
    if (judge) Judge(key, arduino::AnalogUsedRefusal(used));
    s->analog_used[key[1] - '0'] = used;
  } else {
    throw UsageError("unknown key '" + std::string(key) +
                     "' (interface, comport, baud, address, udpport, pin2..pin9, a0..a5)");
  }
}

}  // namespace

void ApplySetting(std::string_view assignment, BlockSettings* s) { Apply(assignment, s, false); }

void ApplyDialogSetting(std::string_view assignment, BlockSettings* s) {
  Apply(assignment, s, true);
}

std::optional<std::string> LinkRefusal(const BlockSettings& s) {
  if (auto why = arduino::InterfaceRefusal(s.interface_kind)) return why;
  if (s.OverSerial()) {
    if (auto why = arduino::ComPortRefusal(s.com_port)) return why;
    return arduino::BaudRateRefusal(s.baud_rate);
  }
  return arduino::UdpPortRefusal(s.udp_port);
}

std::string DescribeSettings(const BlockSettings& s) {
  std::string text;
  auto line = [&](const std::string& key, const std::string& value) {
    text += key + std::string(10 - key.size(), ' ') + value + "\n";
  };
  auto coded = [](int32_t value, const std::string& word) {
    return word + " (" + std::to_string(value) + ")";
  };
  line("interface", coded(s.interface_kind, InterfaceWord(s.interface_kind)));
  line("comport", std::to_string(s.com_port));
  line("baud", std::to_string(s.baud_rate));
  line("address", s.address);
  line("udpport", std::to_string(s.udp_port));
  for (int k = 0; k < kDigitalPins; ++k) {
    line("pin" + std::to_string(kFirstPin + k), coded(s.pin_mode[k], PinModeWord(s.pin_mode[k])));
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    line("a" + std::to_string(k), coded(s.analog_used[k], WordOf(s.analog_used[k], kAnalogWords)));
  }
  return text;
}

}  // namespace blockhost
