#include "config/setting_rules.h"

#include <algorithm>
#include <charconv>

namespace arduino {
namespace {

// The mode codes, as `blockhost set` names them and the dialog lists them.
constexpr const char* kModeWords[] = {"unused", "input", "output", "pwm"};

std::string Text(int32_t value) { return std::to_string(value); }

std::string ModeList(int count) {
  std::string list;
  for (int code = 0; code < count; ++code) {
    if (code > 0) list += ", ";
    list += Text(code) + " " + kModeWords[code];
  }
  return list;
}

}  // namespace

bool HasPwm(int pin) { return pin == 3 || pin == 5 || pin == 6 || pin == 9; }

int PinModeCount(int pin) { return HasPwm(pin) ? 4 : 3; }

int32_t DialogComPort(int32_t stored) {
  const auto position = static_cast<int16_t>(static_cast<uint32_t>(stored) & 0xFFFFu);
  return std::clamp<int32_t>(position, kComPortMin, kComPortMax);
}

std::optional<std::string> InterfaceRefusal(int32_t value) {
  if (value == 0 || value == 1) return std::nullopt;
  return "interface " + Text(value) +
         " is neither 0 (ethernet) nor 1 (usb) (the dialog would check neither and store 0)";
}

std::optional<std::string> ComPortRefusal(int32_t value) {
  if (value >= kComPortMin && value <= kComPortMax) return std::nullopt;
  return "COM port " + Text(value) + " is outside " + Text(kComPortMin) + ".." + Text(kComPortMax) +
         " (the dialog would show and store " + Text(DialogComPort(value)) + ")";
}

std::optional<std::string> BaudRateRefusal(int32_t value) {
  std::string list;
  for (int32_t rate : kBaudRates) {
    if (rate == value) return std::nullopt;
    list += (list.empty() ? "" : ", ") + Text(rate);
  }
  return "speed " + Text(value) + " baud is none of " + list +
         " (the dialog would select no speed and store " + Text(value) + " unless one is picked)";
}

std::optional<std::string> UdpPortRefusal(int32_t value) {
  if (value >= kUdpPortMin && value <= kUdpPortMax) return std::nullopt;
  // The block sends to the port's low 16 bits, as the socket call takes it.
  const int32_t sent_to = static_cast<int32_t>(static_cast<uint32_t>(value) & 0xFFFFu);
  const std::string effect =
      sent_to == 0 ? "port 0, where no board can be reached" : "port " + Text(sent_to);
  return "UDP port " + Text(value) + " is outside " + Text(kUdpPortMin) + ".." + Text(kUdpPortMax) +
         "; the block sends to its low 16 bits: " + effect + " (the dialog would store " +
         Text(value) + " as typed)";
}

std::optional<std::string> PinModeRefusal(int pin, int32_t value) {
  const int count = PinModeCount(pin);
  if (value >= 0 && value < count) return std::nullopt;
  const std::string dialog = " (the dialog would select no mode and store -1)";
  if (value == 3) {
    return "pin " + Text(pin) + " has no PWM, only pins 3, 5, 6 and 9 have; it takes " +
           ModeList(count) + dialog;
  }
  return "pin " + Text(pin) + " mode " + Text(value) + " is none of " + ModeList(count) + dialog;
}

std::optional<std::string> AnalogUsedRefusal(int32_t value) {
  if (value == 0 || value == 1) return std::nullopt;
  return "analog input use " + Text(value) +
         " is neither 0 (unused) nor 1 (used) (the dialog would select neither and store -1)";
}

std::optional<int32_t> ParseComPortText(std::string_view text) {
  if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
      (text[2] == 'M' || text[2] == 'm')) {
    text.remove_prefix(3);
    // "COM-3" is no port name; a sign belongs to the bare number only.
    if (text[0] < '0' || text[0] > '9') return std::nullopt;
  }
  int32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace arduino
