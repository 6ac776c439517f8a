#include "check_outcome.h"

#include "byte_escape.h"
#include "tool_api/setting_rules.h"

namespace blockhost {

std::optional<std::string> ReplyOfConversionError(std::string_view message) {
  // The text after "g" differs by platform: the u umlaut is one byte in
  // CP-1252 and two in UTF-8.
  constexpr std::string_view kMiddle = "' ist kein g";
  constexpr std::string_view kEnd = "ltiger Gleitkommawert";
  if (!message.starts_with('\'') || !message.ends_with(kEnd)) return std::nullopt;
  // The reply itself may hold the middle text, so the last one counts.
  const size_t middle = message.rfind(kMiddle);
  if (middle == std::string_view::npos || middle == 0) return std::nullopt;
  const size_t umlaut = middle + kMiddle.size();
  const size_t umlaut_size = message.size() - kEnd.size() - umlaut;
  if (umlaut_size != 1 && umlaut_size != 2) return std::nullopt;
  return std::string(message.substr(1, middle - 1));
}

std::vector<int32_t> OtherDialogSpeeds(int32_t baud_rate) {
  std::vector<int32_t> others;
  for (const int32_t speed : arduino::kBaudRates) {
    if (speed != baud_rate) others.push_back(speed);
  }
  return others;
}

bool IsAnalogReading(double value) {
  return value >= 0 && value <= 1023 && value == static_cast<double>(static_cast<int>(value));
}

std::string EscapedReply(std::string_view reply) {
  return "\"" + byte_text::EscapeBytes(reply, byte_text::HexDigits::kUpper, "\"") + "\"";
}

}  // namespace blockhost
