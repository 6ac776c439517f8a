#include "link_text.h"

#include "held_port.h"

namespace blockhost {

std::string ComPortName(int32_t com_port) { return "COM" + std::to_string(com_port); }

std::string SerialLinkText(const std::string& port, int32_t baud_rate) {
  return port + " at " + std::to_string(baud_rate) + " baud";
}

std::string LinkText(const BlockSettings& s) {
  if (s.interface_kind == arduino::kInterfaceEthernet) {
    return "UDP " + s.address + ":" + std::to_string(s.udp_port);
  }
  if (s.OverSerial()) {
    return "serial " + SerialLinkText(ComPortName(s.com_port), s.baud_rate);
  }
  return "interface " + std::to_string(s.interface_kind);
}

std::string CheckedLinkText(const BlockSettings& s) {
  if (s.interface_kind == arduino::kInterfaceEthernet) {
    return AddressText(s) + ", UDP port " + std::to_string(s.udp_port);
  }
  return SerialLinkText(PortWithDevice(s.com_port), s.baud_rate);
}

// An empty address names this computer, which a message must say in words.
std::string AddressText(const BlockSettings& s) {
  return s.address.empty() ? "this computer (the address is empty)" : s.address;
}

}  // namespace blockhost
