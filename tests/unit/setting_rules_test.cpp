// The values the dialog can store, as `set` and `check` judge them too.
#include "config/setting_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/ArduinoDlg.h"

namespace arduino {
namespace {

struct Judged {
  const char* what;
  std::optional<std::string> refusal;
  bool accepted;
  const char* named;  // what a refusal must name: the range or the list
};

void ExpectJudged(const Judged& c) {
  SCOPED_TRACE(c.what);
  EXPECT_EQ(!c.refusal.has_value(), c.accepted) << c.refusal.value_or("");
  if (c.refusal) {
    EXPECT_NE(c.refusal->find(c.named), std::string::npos) << *c.refusal;
    EXPECT_EQ(c.refusal->find('\n'), std::string::npos) << *c.refusal;
  }
}

TEST(SettingRulesTest, EachFieldTakesWhatTheDialogOffersAndNamesItOtherwise) {
  const Judged cases[] = {
      {"ethernet", InterfaceRefusal(0), true, ""},
      {"usb", InterfaceRefusal(1), true, ""},
      {"interface 5", InterfaceRefusal(5), false, "0 (ethernet)"},
      {"interface -1", InterfaceRefusal(-1), false, "1 (usb)"},
      {"COM1", ComPortRefusal(1), true, ""},
      {"COM100", ComPortRefusal(100), true, ""},
      {"COM0", ComPortRefusal(0), false, "1..100"},
      {"COM101", ComPortRefusal(101), false, "1..100"},
      {"COM-3", ComPortRefusal(-3), false, "1..100"},
      {"9600", BaudRateRefusal(9600), true, ""},
      {"19200", BaudRateRefusal(19200), true, ""},
      {"38400", BaudRateRefusal(38400), true, ""},
      {"115200", BaudRateRefusal(115200), true, ""},
      {"baud 0", BaudRateRefusal(0), false, "9600, 19200, 38400, 115200"},
      {"baud 12345", BaudRateRefusal(12345), false, "9600, 19200, 38400, 115200"},
      {"baud 57600", BaudRateRefusal(57600), false, "9600, 19200, 38400, 115200"},
      {"port 1", UdpPortRefusal(1), true, ""},
      {"port 65535", UdpPortRefusal(65535), true, ""},
      {"port 0", UdpPortRefusal(0), false, "1..65535"},
      {"port -1", UdpPortRefusal(-1), false, "1..65535"},
      {"port 70000", UdpPortRefusal(70000), false, "1..65535"},
      {"analog 0", AnalogUsedRefusal(0), true, ""},
      {"analog 1", AnalogUsedRefusal(1), true, ""},
      {"analog 2", AnalogUsedRefusal(2), false, "1 (used)"},
  };
  for (const Judged& c : cases) ExpectJudged(c);
}

// Every pin list of the form against the rule: a code is accepted exactly
// when the pin's list has an item for it, so the two cannot drift apart.
TEST(SettingRulesTest, PinModesMatchTheDialogsListsPinByPin) {
  TArduinoDialog form;
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) {
    SCOPED_TRACE("pin " + std::to_string(pin));
    const size_t items = form.Control(kPinComboNames[pin - kFirstPin]).Items.size();
    EXPECT_EQ(static_cast<size_t>(PinModeCount(pin)), items);
    for (int32_t mode = -2; mode <= 5; ++mode) {
      const bool offered = mode >= 0 && static_cast<size_t>(mode) < items;
      ExpectJudged({"mode", PinModeRefusal(pin, mode), offered, "0 unused, 1 input, 2 output"});
    }
  }
  EXPECT_NE(PinModeRefusal(2, 3).value_or("").find("pins 3, 5, 6 and 9"), std::string::npos);
  EXPECT_EQ(form.Control("BaudCombobox").Items.size(), static_cast<size_t>(kBaudRateCount));
  EXPECT_EQ(form.Control("UpDown1").Min, kComPortMin);
  EXPECT_EQ(form.Control("UpDown1").Max, kComPortMax);
}

TEST(SettingRulesTest, ComPortTextTakesTheNumberOrItsComName) {
  const struct {
    const char* text;
    std::optional<int32_t> port;
  } cases[] = {
      {"3", 3},    {"COM3", 3},   {"com3", 3},   {"Com12", 12}, {"-3", -3},
      {"COM", {}}, {"COM-3", {}}, {"COM+3", {}}, {"COM 3", {}}, {"COM3x", {}},
      {"3 ", {}},  {"", {}},      {"CON3", {}},  {"tty3", {}},  {"COM99999999999", {}},
      {"0x3", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseComPortText(c.text), c.port);
  }
}

}  // namespace
}  // namespace arduino
