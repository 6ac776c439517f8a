// The settings dialog's form, headless: its layout, how it shows a block's
// settings, how OK stores them and how the COM port spin behaves.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "block/user_data.h"
#include "config/ArduinoDlg.h"
#include "settings_fields.h"

namespace arduino {
namespace {

using enum TControlKind;

TUserData Defaults() {
  TUserData d;
  SetDefaults(d);
  return d;
}

using testing::Fields;
using testing::FieldsOf;

// Fill, then OK with the form untouched.
TUserData RoundTrip(const TUserData& before) {
  TArduinoDialog form;
  form.Fill(before);
  TUserData after;
  after.InterfaceKind = 77;  // proves that Store writes the field
  after.ComPort = 77;
  after.BaudRate = before.BaudRate;
  after.UdpPort = before.UdpPort;
  form.Store(after);
  return after;
}

TEST(DialogLayoutTest, ControlsSitWhereTheFormPlacesThem) {
  struct Row {
    const char* name;
    TControlKind kind;
    const char* parent;
    int left, top, width, height;
    const char* caption;
    int tab;
  };
  const Row rows[] = {
      {"OKButton", kButton, "", 356, 20, 75, 23, "OK", 0},
      {"CancelButton", kButton, "", 356, 52, 75, 23, "Cancel", 1},
      {"GroupBox1", kGroupBox, "", 12, 16, 333, 93, "Interface", 2},
      {"GroupBox2", kGroupBox, "", 12, 120, 333, 233, "Input/Output Configuration", 3},
      {"RadioButton1", kRadioButton, "GroupBox1", 16, 28, 65, 17, "Ethernet", 0},
      {"Label2", kLabel, "GroupBox1", 88, 30, 54, 13, "IP Address:", -1},
      {"IPAddressEdit", kEdit, "GroupBox1", 148, 26, 89, 21, "", 1},
      {"Label4", kLabel, "GroupBox1", 252, 30, 22, 13, "Port:", -1},
      {"PortEdit", kEdit, "GroupBox1", 280, 26, 41, 21, "", 2},
      {"RadioButton2", kRadioButton, "GroupBox1", 16, 60, 61, 17, "USB", 3},
      {"Label3", kLabel, "GroupBox1", 88, 62, 49, 13, "COM-Port:", -1},
      {"ComPortEdit", kEdit, "GroupBox1", 148, 58, 49, 21, "", 4},
      {"UpDown1", kUpDown, "GroupBox1", 197, 58, 16, 21, "", 5},
      {"BaudCombobox", kComboBox, "GroupBox1", 232, 58, 89, 21, "", 6},
      {"Label1", kLabel, "GroupBox2", 16, 36, 27, 13, "Pin 2:", -1},
      {"P2Combobox", kComboBox, "GroupBox2", 52, 32, 113, 21, "", 0},
      {"Label6", kLabel, "GroupBox2", 16, 60, 27, 13, "Pin 3:", -1},
      {"P3Combobox", kComboBox, "GroupBox2", 52, 56, 113, 21, "", 1},
      {"Label11", kLabel, "GroupBox2", 16, 180, 27, 13, "Pin 8:", -1},
      {"Label12", kLabel, "GroupBox2", 16, 204, 27, 13, "Pin 9:", -1},
      {"P9Combobox", kComboBox, "GroupBox2", 52, 200, 113, 21, "", 7},
      {"Label13", kLabel, "GroupBox2", 184, 36, 16, 13, "A0:", -1},
      {"A0Combobox", kComboBox, "GroupBox2", 208, 32, 113, 21, "", 8},
      {"Label18", kLabel, "GroupBox2", 184, 156, 16, 13, "A5:", -1},
      {"A5Combobox", kComboBox, "GroupBox2", 208, 152, 113, 21, "", 13},
  };
  TArduinoDialog form;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TControl& c = form.Control(row.name);
    EXPECT_EQ(c.Kind, row.kind);
    EXPECT_EQ(c.Parent, row.parent);
    EXPECT_EQ(c.Left, row.left);
    EXPECT_EQ(c.Top, row.top);
    EXPECT_EQ(c.Width, row.width);
    EXPECT_EQ(c.Height, row.height);
    EXPECT_EQ(c.Caption, row.caption);
    EXPECT_EQ(c.TabOrder, row.tab);
  }
  // Every control fits inside its container.
  for (const TControl& c : form.Controls()) {
    SCOPED_TRACE(c.Name);
    int width = TArduinoDialog::kClientWidth, height = TArduinoDialog::kClientHeight;
    if (!c.Parent.empty()) {
      width = form.Control(c.Parent).Width;
      height = form.Control(c.Parent).Height;
    }
    EXPECT_GE(c.Left, 0);
    EXPECT_GE(c.Top, 0);
    EXPECT_LE(c.Left + c.Width, width);
    EXPECT_LE(c.Top + c.Height, height);
  }
  EXPECT_THROW(form.Control("NoSuchControl"), Exception);
}

TEST(DialogLayoutTest, TabOrderIsUniqueAndGapFreePerContainer) {
  TArduinoDialog form;
  const std::pair<const char*, std::vector<std::string>> containers[] = {
      {"", {"OKButton", "CancelButton", "GroupBox1", "GroupBox2"}},
      {"GroupBox1",
       {"RadioButton1", "IPAddressEdit", "PortEdit", "RadioButton2", "ComPortEdit", "UpDown1",
        "BaudCombobox"}},
      {"GroupBox2",
       {"P2Combobox", "P3Combobox", "P4Combobox", "P5Combobox", "P6Combobox", "P7Combobox",
        "P8Combobox", "P9Combobox", "A0Combobox", "A1Combobox", "A2Combobox", "A3Combobox",
        "A4Combobox", "A5Combobox"}},
  };
  for (const auto& [parent, names] : containers) {
    SCOPED_TRACE(parent);
    std::vector<std::string> sequence;
    for (const TControl* c : form.TabSequence(parent)) sequence.push_back(c->Name);
    EXPECT_EQ(sequence, names);
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(form.Control(names[i]).TabOrder, static_cast<int>(i));
    }
  }
  // The spin is reached through its edit only.
  EXPECT_FALSE(form.Control("UpDown1").TabStop);
  EXPECT_TRUE(form.Control("ComPortEdit").TabStop);
}

TEST(DialogLayoutTest, ButtonsListsAndLimits) {
  TArduinoDialog form;
  const TControl& ok = form.Control("OKButton");
  const TControl& cancel = form.Control("CancelButton");
  EXPECT_TRUE(ok.Default);
  EXPECT_EQ(ok.ModalResult, TModalResult::kOk);
  EXPECT_EQ(cancel.ModalResult, TModalResult::kCancel);
  EXPECT_FALSE(cancel.Default);

  const std::vector<std::string> digital = {"unused", "Digital Input", "Digital Output"};
  std::vector<std::string> pwm = digital;
  pwm.push_back("PWM Output");
  const std::pair<const char*, std::vector<std::string>> lists[] = {
      {"BaudCombobox", {"9600 Baud", "19200 Baud", "38400 Baud", "115200 Baud"}},
      {"P2Combobox", digital},
      {"P3Combobox", pwm},
      {"P4Combobox", digital},
      {"P5Combobox", pwm},
      {"P6Combobox", pwm},
      {"P7Combobox", digital},
      {"P8Combobox", digital},
      {"P9Combobox", pwm},
      {"A0Combobox", {"unused", "used"}},
      {"A5Combobox", {"unused", "used"}},
  };
  for (const auto& [name, items] : lists) EXPECT_EQ(form.Control(name).Items, items) << name;

  const TControl& spin = form.Control("UpDown1");
  EXPECT_EQ(spin.Associate, "ComPortEdit");
  EXPECT_EQ(spin.Min, 1);
  EXPECT_EQ(spin.Max, 100);
  EXPECT_EQ(form.Control("IPAddressEdit").MaxLength, 998);
  EXPECT_EQ(form.Control("PortEdit").MaxLength, 0);
  EXPECT_EQ(form.Control("ComPortEdit").MaxLength, 0);
}

TEST(DialogMappingTest, DefaultsOpenAsExpectedAndOkKeepsThem) {
  const Fields defaults = testing::DefaultFields();
  TArduinoDialog form;
  form.Fill(Defaults());
  EXPECT_TRUE(form.EthernetChecked);
  EXPECT_FALSE(form.UsbChecked);
  EXPECT_EQ(form.IPAddressText, defaults.address);
  EXPECT_EQ(form.PortText, std::to_string(defaults.udp_port));
  EXPECT_EQ(form.ComPortText(), std::to_string(defaults.com_port));
  EXPECT_EQ(form.Control("BaudCombobox").Items[form.BaudIndex],
            std::to_string(defaults.baud_rate) + " Baud");
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ(form.Control(kPinComboNames[row]).Items[form.PinIndex[row]],
              defaults.pin_mode[row] == pmDigitalInput ? "Digital Input" : "Digital Output")
        << "pin " << row + 2;
  }
  for (int k = 0; k < 6; ++k) EXPECT_EQ(form.AnalogIndex[k], defaults.analog_used[k]) << "A" << k;

  EXPECT_EQ(FieldsOf(RoundTrip(Defaults())), defaults);
}

TEST(DialogMappingTest, StoredValuesAfterOkWithoutChanges) {
  struct Case {
    const char* what;
    void (*change)(TUserData&);
    void (*expect)(TUserData&);  // the defaults as OK should leave them
  };
  const Case cases[] = {
      {"USB", [](TUserData& d) { d.InterfaceKind = kInterfaceUsb; },
       [](TUserData& d) { d.InterfaceKind = kInterfaceUsb; }},
      {"unknown interface shows neither, stores Ethernet",
       [](TUserData& d) { d.InterfaceKind = 5; }, [](TUserData&) {}},
      {"negative interface", [](TUserData& d) { d.InterfaceKind = -1; }, [](TUserData&) {}},
      {"rate without item survives", [](TUserData& d) { d.BaudRate = 57600; },
       [](TUserData& d) { d.BaudRate = 57600; }},
      {"115200", [](TUserData& d) { d.BaudRate = 115200; },
       [](TUserData& d) { d.BaudRate = 115200; }},
      {"COM 0 shows 1", [](TUserData& d) { d.ComPort = 0; }, [](TUserData& d) { d.ComPort = 1; }},
      {"COM 250 shows 100", [](TUserData& d) { d.ComPort = 250; },
       [](TUserData& d) { d.ComPort = 100; }},
      {"COM 100", [](TUserData& d) { d.ComPort = 100; }, [](TUserData& d) { d.ComPort = 100; }},
      {"COM low half 7", [](TUserData& d) { d.ComPort = 0x10007; },
       [](TUserData& d) { d.ComPort = 7; }},
      {"COM low half negative", [](TUserData& d) { d.ComPort = 0xFFFF; },
       [](TUserData& d) { d.ComPort = 1; }},
      {"port out of range kept as is", [](TUserData& d) { d.UdpPort = 70000; },
       [](TUserData& d) { d.UdpPort = 70000; }},
      {"negative port", [](TUserData& d) { d.UdpPort = -5; }, [](TUserData& d) { d.UdpPort = -5; }},
      {"PWM on pin 3", [](TUserData& d) { d.PinMode[3] = 3; },
       [](TUserData& d) { d.PinMode[3] = 3; }},
      {"PWM on pin 2 has no item", [](TUserData& d) { d.PinMode[2] = 3; },
       [](TUserData& d) { d.PinMode[2] = -1; }},
      {"pin mode 7", [](TUserData& d) { d.PinMode[9] = 7; },
       [](TUserData& d) { d.PinMode[9] = -1; }},
      {"pin mode -1", [](TUserData& d) { d.PinMode[5] = -1; },
       [](TUserData& d) { d.PinMode[5] = -1; }},
      {"unused pin", [](TUserData& d) { d.PinMode[8] = 0; },
       [](TUserData& d) { d.PinMode[8] = 0; }},
      {"analog unused", [](TUserData& d) { d.AnalogUsed[0] = 0; },
       [](TUserData& d) { d.AnalogUsed[0] = 0; }},
      {"analog 2", [](TUserData& d) { d.AnalogUsed[5] = 2; },
       [](TUserData& d) { d.AnalogUsed[5] = -1; }},
      {"empty address", [](TUserData& d) { d.IPAddress.clear(); },
       [](TUserData& d) { d.IPAddress.clear(); }},
      {"address longer than a written line", [](TUserData& d) { d.IPAddress.assign(999, '7'); },
       [](TUserData& d) { d.IPAddress.assign(999, '7'); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TUserData before = Defaults();
    c.change(before);
    TUserData expected = Defaults();
    c.expect(expected);
    EXPECT_EQ(FieldsOf(RoundTrip(before)), FieldsOf(expected));
  }
}

TEST(DialogMappingTest, NoSelectionShowsAsMinusOne) {
  TUserData d = Defaults();
  d.InterfaceKind = 5;
  d.BaudRate = 57600;
  d.PinMode[2] = 3;
  d.PinMode[3] = 3;
  d.AnalogUsed[1] = 9;
  TArduinoDialog form;
  form.Fill(d);
  EXPECT_FALSE(form.EthernetChecked);
  EXPECT_FALSE(form.UsbChecked);
  EXPECT_EQ(form.BaudIndex, -1);
  EXPECT_EQ(form.PinIndex[0], -1);
  EXPECT_EQ(form.Control("P3Combobox").Items[form.PinIndex[1]], "PWM Output");
  EXPECT_EQ(form.AnalogIndex[1], -1);
}

// A stored speed the list lacks (a project file may hold any) leaves the
// list of four without a selection; OK keeps it, and picking an offered
// speed stores that one.
TEST(DialogMappingTest, StoredSpeedOutsideTheListSelectsNothingAndIsKept) {
  const std::vector<std::string> offered = {"9600 Baud", "19200 Baud", "38400 Baud", "115200 Baud"};
  for (int32_t rate : {12345, 0, -9600, 57600}) {
    SCOPED_TRACE(rate);
    TUserData d = Defaults();
    d.BaudRate = rate;
    TArduinoDialog form;
    form.Fill(d);
    EXPECT_EQ(form.Control("BaudCombobox").Items, offered);
    EXPECT_EQ(form.BaudIndex, -1);
    TUserData kept = Defaults();
    kept.BaudRate = rate;
    form.Store(kept);
    EXPECT_EQ(kept.BaudRate, rate);

    form.BaudIndex = 1;
    form.Store(kept);
    EXPECT_EQ(kept.BaudRate, 19200);
  }
}

TEST(DialogMappingTest, EditedFormIsStored) {
  TArduinoDialog form;
  form.Fill(Defaults());
  form.EthernetChecked = false;
  form.UsbChecked = true;
  form.IPAddressText = "not checked at all";
  form.PortText = "0x10";
  form.SetComPortText("42");
  form.BaudIndex = 3;
  form.PinIndex[7] = 3;
  form.AnalogIndex[2] = 0;
  TUserData d = Defaults();
  form.Store(d);
  TUserData expected = Defaults();
  expected.InterfaceKind = kInterfaceUsb;
  expected.IPAddress = "not checked at all";
  expected.UdpPort = 16;
  expected.ComPort = 42;
  expected.BaudRate = 115200;
  expected.PinMode[9] = 3;
  expected.AnalogUsed[2] = 0;
  EXPECT_EQ(FieldsOf(d), FieldsOf(expected));
}

TEST(DialogMappingTest, PortTextThatIsNoNumberKeepsThePortButStoresTheRest) {
  const std::pair<const char*, int32_t> cases[] = {
      {"abc", 1600},         {"", 1600},       {"12x", 1600},
      {"99999999999", 1600}, {"70000", 70000}, {"-5", -5},
      {"  80", 80},          {"$FF", 255},     {"+7", 7},
  };
  for (const auto& [text, port] : cases) {
    SCOPED_TRACE(text);
    TArduinoDialog form;
    form.Fill(Defaults());
    form.PortText = text;
    form.IPAddressText = "10.0.0.1";
    TUserData d = Defaults();
    form.Store(d);
    EXPECT_EQ(d.UdpPort, port);
    EXPECT_EQ(d.IPAddress, "10.0.0.1");
  }
}

TEST(DialogSpinTest, TypedTextMovesThePositionOnlyWhenInRange) {
  struct Case {
    std::vector<const char*> typed;
    int position;
  };
  const Case cases[] = {
      {{"5"}, 5},    {{"100"}, 100},    {{"101"}, 7},
      {{"0"}, 7},    {{"abc"}, 7},      {{""}, 7},
      {{"-3"}, 7},   {{"5", "abc"}, 5}, {{"1", "12", "123"}, 12},
      {{"$10"}, 7},  {{" 9"}, 9},       {{"9 "}, 7},
      {{"COM3"}, 7},  // what `blockhost set` takes, the dialog does not
  };
  for (const Case& c : cases) {
    TArduinoDialog form;
    TUserData d = Defaults();
    d.ComPort = 7;
    form.Fill(d);
    for (const char* text : c.typed) form.SetComPortText(text);
    EXPECT_EQ(form.SpinPosition(), c.position) << c.typed.back();
    EXPECT_EQ(form.ComPortText(), c.typed.back());
    form.Store(d);
    EXPECT_EQ(d.ComPort, c.position) << c.typed.back();
  }
}

TEST(DialogSpinTest, StepsStopAtTheEndsAndRewriteTheEdit) {
  struct Case {
    int32_t start;
    const char* typed;  // nullptr: leave the edit alone
    int ups, downs;
    const char* shown;
  };
  const Case cases[] = {
      {1, nullptr, 1, 0, "2"},    {1, nullptr, 0, 1, "1"},   {99, nullptr, 5, 0, "100"},
      {100, nullptr, 0, 3, "97"}, {10, "abc", 1, 0, "11"},   {10, "50", 1, 0, "51"},
      {10, "500", 0, 1, "9"},     {2, nullptr, 0, 200, "1"},
  };
  for (const Case& c : cases) {
    TArduinoDialog form;
    TUserData d = Defaults();
    d.ComPort = c.start;
    form.Fill(d);
    if (c.typed != nullptr) form.SetComPortText(c.typed);
    for (int i = 0; i < c.ups; ++i) form.StepUp();
    for (int i = 0; i < c.downs; ++i) form.StepDown();
    EXPECT_EQ(form.ComPortText(), c.shown) << c.start << " +" << c.ups << " -" << c.downs;
    EXPECT_EQ(std::to_string(form.SpinPosition()), c.shown);
  }
}

}  // namespace
}  // namespace arduino
