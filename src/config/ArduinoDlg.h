// The block's settings dialog.  The form is described here as plain data,
// every control with its place, caption, items and tab order, together with
// the values the user can change.  Filling the form from a block's settings
// and storing it back are portable; each platform's view only builds its
// widgets from this description and copies the values in and out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "block/user_data.h"
#include "config/setting_rules.h"

namespace arduino {

enum class TControlKind { kButton, kGroupBox, kRadioButton, kLabel, kEdit, kUpDown, kComboBox };

// What a push button does to the dialog when it is pressed.
enum class TModalResult { kNone, kOk, kCancel };

// One control of the form.  Left and Top are relative to the container, which
// is the form itself when Parent is empty.
struct TControl {
  std::string Name;
  TControlKind Kind = TControlKind::kLabel;
  std::string Parent;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  std::string Caption;
  // Position in the container's tab order; -1 for controls that never take
  // the focus (labels).
  int TabOrder = -1;
  bool TabStop = false;
  std::vector<std::string> Items;  // the items of a drop-down list
  TModalResult ModalResult = TModalResult::kNone;
  bool Default = false;  // the button that Enter presses
  // The most characters the user may type in; 0 means no limit.  A longer
  // text that the edit is given to show is never cut.
  int MaxLength = 0;
  // For the up-down: its range and the edit it steps, one at a time,
  // stopping at either end.
  int Min = 0;
  int Max = 0;
  std::string Associate;
};

class TArduinoDialog {
 public:
  static constexpr const char* kCaption = "Arduino";
  static constexpr int kClientWidth = 444;
  static constexpr int kClientHeight = 361;
  static constexpr const char* kFontName = "MS Sans Serif";
  static constexpr int kFontSize = 8;  // points
  // The range of the COM port's spin buttons.
  static constexpr int kComPortMin = ::arduino::kComPortMin;
  static constexpr int kComPortMax = ::arduino::kComPortMax;

  TArduinoDialog();

  // Every control, containers before what they hold.
  const std::vector<TControl>& Controls() const { return controls_; }
  // The control of that name; an unknown name raises Exception.
  const TControl& Control(std::string_view name) const;
  // The controls of one container in tab order, focusable ones only.
  std::vector<const TControl*> TabSequence(std::string_view parent) const;

  // What the user can change.  "Neither radio checked" is a state the form
  // can show but the user cannot produce.
  bool EthernetChecked = false;
  bool UsbChecked = false;
  std::string IPAddressText;
  std::string PortText;
  // -1: no item selected, as for a stored speed the list does not offer;
  // OK then leaves the speed as it was.
  int BaudIndex = -1;
  // Item indices of the pin lists P2..P9 and A0..A5, -1 for no selection.
  int PinIndex[kDigitalPins] = {-1, -1, -1, -1, -1, -1, -1, -1};
  int AnalogIndex[kAnalogInputs] = {-1, -1, -1, -1, -1, -1};

  // The COM port edit and its up-down.  The edit holds whatever the user
  // typed; the up-down's position follows it whenever it reads as a whole
  // number in range and keeps its last value otherwise.
  const std::string& ComPortText() const { return com_port_text_; }
  void SetComPortText(std::string text);
  int SpinPosition() const { return spin_position_; }
  // The arrow buttons and the Up/Down keys: one step from the current
  // position, stopping at the ends of the range, and the edit shows the
  // result.
  void StepUp();
  void StepDown();

  // Shows a block's settings on the form.
  void Fill(const TUserData& user_data);
  // Writes the form back into the settings; only OK does this.
  void Store(TUserData& user_data) const;

 private:
  void SetSpinPosition(int position);

  std::vector<TControl> controls_;
  std::string com_port_text_ = "1";
  int spin_position_ = kComPortMin;
};

// The names of the pin lists, in the order of PinIndex and AnalogIndex.
extern const char* const kPinComboNames[kDigitalPins];
extern const char* const kAnalogComboNames[kAnalogInputs];

// Opens the modal dialog on one block's settings and stores them if the user
// presses OK.  Each platform defines it with its own toolkit.
void RunParameterDialog(TUserData& user_data);

}  // namespace arduino
