#include "config/ArduinoDlg.h"

#include <algorithm>
#include <optional>

#include "arduino_block.h"
#include "base/convert.h"
#include "block/user_data.h"
#include "config/setting_rules.h"
#include "config/settings_block.h"

namespace arduino {

const char* const kPinComboNames[kDigitalPins] = {"P2Combobox", "P3Combobox", "P4Combobox",
                                                  "P5Combobox", "P6Combobox", "P7Combobox",
                                                  "P8Combobox", "P9Combobox"};
const char* const kAnalogComboNames[kAnalogInputs] = {"A0Combobox", "A1Combobox", "A2Combobox",
                                                      "A3Combobox", "A4Combobox", "A5Combobox"};

namespace {

const std::vector<std::string> kDigitalItems = {"unused", "Digital Input", "Digital Output"};
const std::vector<std::string> kPwmItems = {"unused", "Digital Input", "Digital Output",
                                            "PWM Output"};
const std::vector<std::string> kAnalogItems = {"unused", "used"};

// The up-down reads its edit as a plain decimal number; anything else, a
// sign or a hexadecimal prefix included, leaves the position where it was.
std::optional<int> ReadWholeNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 1000000) return std::nullopt;
  }
  return static_cast<int>(value);
}

std::vector<std::string> BaudItems() {
  std::vector<std::string> items;
  for (int32_t rate : kBaudRates) items.push_back(IntToStr(rate) + " Baud");
  return items;
}

// Index of the item a stored value selects, or -1 when the list has no such
// item.
int IndexFor(int32_t value, size_t item_count) {
  return value >= 0 && static_cast<size_t>(value) < item_count ? static_cast<int>(value) : -1;
}

TControl MakeButton(std::string name, int left, int top, std::string caption, int tab,
                    TModalResult result) {
  TControl c;
  c.Name = std::move(name), c.Kind = TControlKind::kButton;
  c.Left = left, c.Top = top, c.Width = 75, c.Height = 23;
  c.Caption = std::move(caption), c.TabOrder = tab, c.TabStop = true, c.ModalResult = result;
  return c;
}

// A control that takes the focus when `tab` is 0 or more.
TControl MakeControl(TControlKind kind, std::string name, std::string parent, int left, int top,
                     int width, int height, std::string caption, int tab) {
  TControl c;
  c.Name = std::move(name), c.Kind = kind, c.Parent = std::move(parent);
  c.Left = left, c.Top = top, c.Width = width, c.Height = height;
  c.Caption = std::move(caption), c.TabOrder = tab, c.TabStop = tab >= 0;
  return c;
}

// OK, Cancel and the two group boxes.
void AddFrame(std::vector<TControl>& controls) {
  using enum TControlKind;
  TControl ok = MakeButton("OKButton", 356, 20, "OK", 0, TModalResult::kOk);
  ok.Default = true;
  controls.push_back(ok);
  // Escape is deliberately not bound to Cancel: a stray Escape must not
  // throw away what the user typed.
  controls.push_back(MakeButton("CancelButton", 356, 52, "Cancel", 1, TModalResult::kCancel));
  controls.push_back(MakeControl(kGroupBox, "GroupBox1", "", 12, 16, 333, 93, "Interface", 2));
  controls.push_back(
      MakeControl(kGroupBox, "GroupBox2", "", 12, 120, 333, 233, "Input/Output Configuration", 3));
}

// The "Interface" box: Ethernet with address and port, USB with COM port and
// baud rate.
void AddInterfaceBox(std::vector<TControl>& controls) {
  using enum TControlKind;
  auto add = [&](TControl control) { controls.push_back(std::move(control)); };
  add(MakeControl(kRadioButton, "RadioButton1", "GroupBox1", 16, 28, 65, 17, "Ethernet", 0));
  add(MakeControl(kLabel, "Label2", "GroupBox1", 88, 30, 54, 13, "IP Address:", -1));
  TControl address = MakeControl(kEdit, "IPAddressEdit", "GroupBox1", 148, 26, 89, 21, "", 1);
  // The settings block writes the address on one line of limited length and
  // refuses a longer one, so the user cannot type beyond it.  A file may
  // still bring one character more, which the edit shows and keeps whole.
  address.MaxLength = kMaxWrittenLineText;
  add(address);
  add(MakeControl(kLabel, "Label4", "GroupBox1", 252, 30, 22, 13, "Port:", -1));
  add(MakeControl(kEdit, "PortEdit", "GroupBox1", 280, 26, 41, 21, "", 2));
  add(MakeControl(kRadioButton, "RadioButton2", "GroupBox1", 16, 60, 61, 17, "USB", 3));
  add(MakeControl(kLabel, "Label3", "GroupBox1", 88, 62, 49, 13, "COM-Port:", -1));
  add(MakeControl(kEdit, "ComPortEdit", "GroupBox1", 148, 58, 49, 21, "", 4));
  TControl spin = MakeControl(kUpDown, "UpDown1", "GroupBox1", 197, 58, 16, 21, "", 5);
  spin.TabStop = false;
  spin.Min = TArduinoDialog::kComPortMin;
  spin.Max = TArduinoDialog::kComPortMax;
  spin.Associate = "ComPortEdit";
  add(spin);
  TControl baud = MakeControl(kComboBox, "BaudCombobox", "GroupBox1", 232, 58, 89, 21, "", 6);
  baud.Items = BaudItems();
  add(baud);
}

// The "Input/Output Configuration" box: a labelled list for each digital
// pin on the left, one for each analog input on the right.
void AddPinLists(std::vector<TControl>& controls) {
  using enum TControlKind;
  for (int row = 0; row < kDigitalPins; ++row) {
    int pin = kFirstPin + row;
    int top = 32 + 24 * row;
    // The first pin label was placed before the others and keeps its name.
    std::string label_name = row == 0 ? "Label1" : "Label" + IntToStr(5 + row);
    controls.push_back(MakeControl(kLabel, label_name, "GroupBox2", 16, top + 4, 27, 13,
                                   "Pin " + IntToStr(pin) + ":", -1));
    TControl list =
        MakeControl(kComboBox, kPinComboNames[row], "GroupBox2", 52, top, 113, 21, "", row);
    list.Items = HasPwm(pin) ? kPwmItems : kDigitalItems;
    controls.push_back(list);
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    int top = 32 + 24 * k;
    controls.push_back(MakeControl(kLabel, "Label" + IntToStr(13 + k), "GroupBox2", 184, top + 4,
                                   16, 13, "A" + IntToStr(k) + ":", -1));
    TControl list =
        MakeControl(kComboBox, kAnalogComboNames[k], "GroupBox2", 208, top, 113, 21, "", 8 + k);
    list.Items = kAnalogItems;
    controls.push_back(list);
  }
}

}  // namespace

TArduinoDialog::TArduinoDialog() {
  AddFrame(controls_);
  AddInterfaceBox(controls_);
  AddPinLists(controls_);
}

const TControl& TArduinoDialog::Control(std::string_view name) const {
  for (const TControl& c : controls_) {
    if (c.Name == name) return c;
  }
  throw Exception("The settings dialog has no control named \"" + std::string(name) + "\".");
}

std::vector<const TControl*> TArduinoDialog::TabSequence(std::string_view parent) const {
  std::vector<const TControl*> sequence;
  for (const TControl& c : controls_) {
    if (c.Parent == parent && c.TabOrder >= 0 && c.Kind != TControlKind::kLabel) {
      sequence.push_back(&c);
    }
  }
  std::stable_sort(sequence.begin(), sequence.end(),
                   [](const TControl* a, const TControl* b) { return a->TabOrder < b->TabOrder; });
  return sequence;
}

void TArduinoDialog::SetSpinPosition(int position) {
  spin_position_ = std::clamp(position, kComPortMin, kComPortMax);
  com_port_text_ = IntToStr(spin_position_);
}

void TArduinoDialog::SetComPortText(std::string text) {
  std::optional<int> number = ReadWholeNumber(text);
  if (number && *number >= kComPortMin && *number <= kComPortMax) spin_position_ = *number;
  com_port_text_ = std::move(text);
}

void TArduinoDialog::StepUp() { SetSpinPosition(spin_position_ + 1); }

void TArduinoDialog::StepDown() { SetSpinPosition(spin_position_ - 1); }

void TArduinoDialog::Fill(const TUserData& d) {
  EthernetChecked = d.InterfaceKind == kInterfaceEthernet;
  UsbChecked = d.InterfaceKind == kInterfaceUsb;
  IPAddressText = d.IPAddress;
  PortText = IntToStr(d.UdpPort);
  SetSpinPosition(DialogComPort(d.ComPort));
  // A speed the list does not offer (a project file may hold any) leaves it
  // without a selection, and OK then keeps the stored speed.  The list keeps
  // its four items whatever is stored.
  BaudIndex = -1;
  for (int i = 0; i < kBaudRateCount; ++i) {
    if (kBaudRates[i] == d.BaudRate) BaudIndex = i;
  }
  for (int row = 0; row < kDigitalPins; ++row) {
    PinIndex[row] = IndexFor(d.PinMode[kFirstPin + row], Control(kPinComboNames[row]).Items.size());
  }
  for (int k = 0; k < kAnalogInputs; ++k) {
    AnalogIndex[k] = IndexFor(d.AnalogUsed[k], kAnalogItems.size());
  }
}

void TArduinoDialog::Store(TUserData& d) const {
  d.InterfaceKind = UsbChecked ? kInterfaceUsb : kInterfaceEthernet;
  d.IPAddress = IPAddressText;
  // A port that does not read as a number is left as it was; the rest of
  // the form is stored all the same.
  if (std::optional<int32_t> port = TryStrToInt(PortText)) d.UdpPort = *port;
  d.ComPort = spin_position_;
  if (BaudIndex >= 0 && BaudIndex < kBaudRateCount) d.BaudRate = kBaudRates[BaudIndex];
  for (int row = 0; row < kDigitalPins; ++row) d.PinMode[kFirstPin + row] = PinIndex[row];
  for (int k = 0; k < kAnalogInputs; ++k) d.AnalogUsed[k] = AnalogIndex[k];
}

}  // namespace arduino
