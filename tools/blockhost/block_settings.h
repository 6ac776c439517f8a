// The block's settings as named fields.  The library owns their file format;
// blockhost only reads the lines WriteToFile produced and hands edited lines
// back through ReadFromFile, so the library checks every value it accepts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings_record.h"

namespace blockhost {

using arduino::kAnalogInputs;
using arduino::kDigitalPins;
using arduino::kFirstPin;
using hostmodel::BlockSettings;
using hostmodel::FormatSettingsLines;

// Reads the CR LF lines of a settings block; throws InputError when they are
// not the lines the library writes.
BlockSettings ParseSettingsLines(std::string_view text);

// Applies one KEY=VALUE argument of `blockhost set --force`; throws
// UsageError for an unknown key or a value that is not one of the key's
// words or an integer (for comport also "COM" and the number).
void ApplySetting(std::string_view assignment, BlockSettings* settings);
// The same for `blockhost set`: a value the settings dialog could not store
// (a UDP port outside 1..65535, a speed not in its list, PWM on a pin
// without it, ...) is refused with a UsageError naming the range or list.
void ApplyDialogSetting(std::string_view assignment, BlockSettings* settings);

// Why the link these settings name is one the dialog could not set up, as
// `check` judges a project: the interface, then the COM port and speed of
// a USB link or the UDP port of an Ethernet link.  Nothing if it could.
std::optional<std::string> LinkRefusal(const BlockSettings& settings);

// One "key  value" line per field, with the meaning of coded values.
std::string DescribeSettings(const BlockSettings& settings);

// The words of the coded fields, as `set` takes them and `show` prints them.
std::string InterfaceWord(int32_t kind);
std::string PinModeWord(int32_t mode);

}  // namespace blockhost
