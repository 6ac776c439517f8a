// What either view of the settings dialog shows for a new block's settings
// (DefaultFields()), control by control: an edit's text, a list's selected
// item, "checked" or "" for a radio button.  Each view's test reads its own
// controls the same way and compares.
#pragma once

#include <map>
#include <string>

#include "config/ArduinoDlg.h"
#include "settings_fields.h"

namespace arduino::testing {

inline std::map<std::string, std::string> DefaultShown() {
  const Fields f = DefaultFields();
  std::map<std::string, std::string> shown = {
      {"RadioButton1", f.interface_kind == kInterfaceEthernet ? "checked" : ""},
      {"RadioButton2", f.interface_kind == kInterfaceUsb ? "checked" : ""},
      {"IPAddressEdit", f.address},
      {"PortEdit", std::to_string(f.udp_port)},
      {"ComPortEdit", std::to_string(f.com_port)},
      {"BaudCombobox", std::to_string(f.baud_rate) + " Baud"}};
  for (int pin = 0; pin < kDigitalPins; ++pin) {
    shown[kPinComboNames[pin]] =
        f.pin_mode[pin] == pmDigitalInput ? "Digital Input" : "Digital Output";
  }
  for (int a = 0; a < kAnalogInputs; ++a)
    shown[kAnalogComboNames[a]] = f.analog_used[a] ? "used" : "unused";
  return shown;
}

}  // namespace arduino::testing
