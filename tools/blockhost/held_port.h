// A serial port that cannot be opened, told in the same words and with the
// same exit code by every command that opens one (`run`, `check`,
// `board-address`): the user learns one message, and a script one code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace blockhost {

// "COM5 (/dev/ttyACM4)", "COM5 (no device)", or "COM5" where that is the
// device.
std::string PortWithDevice(int32_t com_port);

// The device behind COM n; where there is none, says so on stderr with a
// pointer to `blockhost ports` and gives "".
std::string DeviceOrSayNone(int32_t com_port);

// "COM5 (/dev/ttyACM4) is held by cat (pid 2265): close it ..."; nothing
// when no program can be seen holding the port.
std::optional<std::string> HeldPortText(int32_t com_port);

// Why the block could not open COM n: the program that holds it if one can
// be seen, else what to look at.  One line.
std::string UnopenedPortText(int32_t com_port);

}  // namespace blockhost
