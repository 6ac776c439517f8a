// The rules of `set` and `check`, against what the dialog offers and stores.
#include "tool_api/setting_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "block/user_data.h"
#include "config/ArduinoDlg.h"

namespace arduino {
namespace {

// A value the dialog offers gets no refusal; any other gets one line that
// names each of `named`: the range or the list.
void ExpectJudged(const std::optional<std::string>& refusal, bool offered,
                  const std::vector<const char*>& named) {
  EXPECT_EQ(!refusal.has_value(), offered) << refusal.value_or("");
  if (refusal) {
    for (const char* part : named) EXPECT_NE(refusal->find(part), std::string::npos) << *refusal;
    EXPECT_EQ(refusal->find('\n'), std::string::npos) << *refusal;
  }
}

TEST(SettingRulesTest, EachFieldTakesWhatTheDialogOffersAndNamesItOtherwise) {
  const struct {
    const char* name;
    std::optional<std::string> (*refusal)(int32_t);
    std::vector<int32_t> offered;
    std::vector<int32_t> refused;
    std::vector<const char*> named;
  } fields[] = {
      {"interface", InterfaceRefusal, {0, 1}, {5, -1}, {"0 (ethernet)", "1 (usb)"}},
      {"COM port", ComPortRefusal, {1, 100}, {0, 101, -3}, {"1..100"}},
      {"baud",
       BaudRateRefusal,
       {9600, 19200, 38400, 115200},
       {0, 12345, 57600},
       {"9600, 19200, 38400, 115200"}},
      {"UDP port", UdpPortRefusal, {1, 65535}, {0, -1, 70000}, {"1..65535"}},
      {"analog", AnalogUsedRefusal, {0, 1}, {2}, {"1 (used)"}},
  };
  for (const auto& field : fields) {
    for (const bool offered : {true, false}) {
      for (const int32_t value : offered ? field.offered : field.refused) {
        SCOPED_TRACE(std::string(field.name) + " " + std::to_string(value));
        ExpectJudged(field.refusal(value), offered, field.named);
      }
    }
  }
}

// Outside 1..65535 the block sends to the port's low 16 bits: the refusal
// says where that is, and that port 0 reaches no board.
TEST(SettingRulesTest, AUdpPortOutsideTheRangeIsToldWhereItSends) {
  const struct {
    int32_t value;
    const char* says;
  } cases[] = {
      {67136, "low 16 bits: port 1600 ("},
      {-1, "low 16 bits: port 65535 ("},
      {0, "low 16 bits: port 0, where no board can be reached"},
      {65536, "low 16 bits: port 0, where no board can be reached"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_NE(UdpPortRefusal(c.value).value_or("").find(c.says), std::string::npos)
        << UdpPortRefusal(c.value).value_or("(accepted)");
  }
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
      SCOPED_TRACE("mode " + std::to_string(mode));
      const bool offered = mode >= 0 && static_cast<size_t>(mode) < items;
      ExpectJudged(PinModeRefusal(pin, mode), offered, {"0 unused, 1 input, 2 output"});
    }
  }
  EXPECT_NE(PinModeRefusal(2, 3).value_or("").find("pins 3, 5, 6 and 9"), std::string::npos);
  EXPECT_EQ(form.Control("BaudCombobox").Items.size(), static_cast<size_t>(kBaudRateCount));
  EXPECT_EQ(form.Control("UpDown1").Min, kComPortMin);
  EXPECT_EQ(form.Control("UpDown1").Max, kComPortMax);
}

// Every refusal says what the dialog would store for the value, and the
// dialog, filled with it and closed with OK, stores just that.  Among the
// values are those the dialog itself stores though the rules refuse them:
// UDP ports 0, -5 and 70000 typed into its edit, and -1 for a list left
// without a selection.
TEST(SettingRulesTest, EachRefusalSaysWhatTheDialogItselfWouldStore) {
  const struct {
    const char* name;
    int32_t TUserData::*field;
    std::optional<std::string> (*refusal)(int32_t);
    std::vector<int32_t> refused;
  } fields[] = {
      {"interface", &TUserData::InterfaceKind, InterfaceRefusal, {5, -1, 2}},
      {"COM port", &TUserData::ComPort, ComPortRefusal, {0, 101, -3, 0x10007, 0xFFFF, 250}},
      {"baud", &TUserData::BaudRate, BaudRateRefusal, {0, 12345, 57600, -9600}},
      {"UDP port", &TUserData::UdpPort, UdpPortRefusal, {0, -5, 70000}},
  };
  auto expect_said = [](const std::string& refusal, int32_t stored) {
    EXPECT_NE(refusal.find("the dialog would "), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("store " + std::to_string(stored)), std::string::npos) << refusal;
  };
  for (const auto& f : fields) {
    for (const int32_t value : f.refused) {
      SCOPED_TRACE(std::string(f.name) + " " + std::to_string(value));
      TUserData data;
      SetDefaults(data);
      data.*f.field = value;
      TArduinoDialog form;
      form.Fill(data);
      form.Store(data);
      expect_said(f.refusal(value).value_or(""), data.*f.field);
    }
  }
  for (const int32_t mode : {-1, 3, 4, 7}) {
    SCOPED_TRACE("pin 2 mode " + std::to_string(mode));
    TUserData data;
    SetDefaults(data);
    data.PinMode[2] = mode;
    data.AnalogUsed[0] = mode == 3 ? 2 : mode;
    TArduinoDialog form;
    form.Fill(data);
    form.Store(data);
    expect_said(PinModeRefusal(2, mode).value_or(""), data.PinMode[2]);
    expect_said(AnalogUsedRefusal(mode == 3 ? 2 : mode).value_or(""), data.AnalogUsed[0]);
  }
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
