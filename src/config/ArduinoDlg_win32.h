// How the Windows view of the settings dialog names its controls.  Every
// control of the form is a child window whose identifier follows from the
// control's place in TArduinoDialog::Controls(), so a program that drives the
// dialog (the tests, an accessibility tool) finds a control by its name with
// GetDlgItem.
#pragma once

#include <string_view>

#include "config/ArduinoDlg.h"

namespace arduino {

// Well above IDOK and IDCANCEL, which the dialog manager sends for Enter and
// Escape on its own; no control of ours may be mistaken for either.
constexpr int kFirstControlId = 100;

inline int ControlId(const TArduinoDialog& form, std::string_view name) {
  return kFirstControlId + static_cast<int>(&form.Control(name) - form.Controls().data());
}

}  // namespace arduino
