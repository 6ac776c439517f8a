#include "held_port.h"

#include <cstdio>

#include "link_text.h"
#include "process_environment.h"
#include "tool_api/port_holders.h"
#include "tool_api/port_names.h"

namespace blockhost {

std::string PortWithDevice(int32_t com_port) {
  const std::string name = ComPortName(com_port);
  std::string device = arduino::ComPortDevice(com_port);
  if (device.empty()) device = "no device";
  return device == name ? name : name + " (" + device + ")";
}

std::string DeviceOrSayNone(int32_t com_port) {
  std::string device = arduino::ComPortDevice(com_port);
  if (device.empty()) {
    fprintf(stderr,
            "blockhost: there is no COM%d on this computer; `blockhost ports` lists the ports\n",
            static_cast<int>(com_port));
  }
  return device;
}

std::optional<std::string> HeldPortText(int32_t com_port) {
  const std::string device = arduino::ComPortDevice(com_port);
  if (device.empty()) return std::nullopt;
  std::optional<arduino::PortHolder> holder = arduino::FindPortHolder(device);
  if (!holder) return std::nullopt;
  return PortWithDevice(com_port) + " is held by " + arduino::DescribePortHolder(*holder) +
         ": close it (a serial monitor, screen, minicom or cat) and try again";
}

std::string UnopenedPortText(int32_t com_port) {
  if (std::optional<std::string> held = HeldPortText(com_port)) return *held;
  const std::string name = ComPortName(com_port);
  std::string text = name + " cannot be opened: no such port, or another program holds it; " +
                     "`blockhost ports` lists the ports by COM number";
  // Only where the name is no device of its own does a variable name one.
  const std::string variable = "ARDUINO_BLOCK_" + name;
  if (arduino::ComPortDevice(com_port) != name && !ProcessVariable(variable)) {
    text += " (" + variable + " may name its device)";
  }
  return text;
}

}  // namespace blockhost
