// How blockhost names a board's link in what it tells the user, so that the
// same link reads the same in every command and a change of wording is made
// once.
#pragma once

#include <cstdint>
#include <string>

#include "block_settings.h"

namespace blockhost {

// "COM3": a port as the dialog and the project file number it.
std::string ComPortName(int32_t com_port);

// "COM3 at 9600 baud", with the port named as the caller names it.
std::string SerialLinkText(const std::string& port, int32_t baud_rate);

// The link a run goes over, in its title and summary: "UDP 10.0.0.5:1600" or
// "serial COM3 at 9600 baud".
std::string LinkText(const BlockSettings& s);

// The link `check` tests, with what the user may need to recognise it: the
// device behind a COM port ("COM3 (/dev/ttyACM2) at 9600 baud") and an empty
// address said in words ("this computer (the address is empty), UDP port
// 1600").
std::string CheckedLinkText(const BlockSettings& s);

// The address of the settings, an empty one said in words.
std::string AddressText(const BlockSettings& s);

}  // namespace blockhost
