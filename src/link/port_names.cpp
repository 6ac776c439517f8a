#include "link/port_names.h"

namespace arduino {

std::string ComDeviceName(int32_t port) {
  // Windows names ports from COM10 on only in the device namespace.
  if (port < kFirstDeviceNamespacePort) return "COM" + std::to_string(port);
  return "\\\\.\\COM" + std::to_string(port);
}

std::string LikelyBoard(uint16_t vendor_id, uint16_t product_id) {
  struct KnownId {
    uint16_t vendor;
    uint16_t product;
    const char* board;
  };
  // The genuine boards under both of the maker's vendor IDs, and the bridge
  // chips: the FT232R of the genuine Nano and the CH340 of most of its
  // clones, which clones of the other boards carry too in place of the
  // genuine board's own USB chip.
  static constexpr KnownId kKnown[] = {
      {0x2341, 0x0001, "Arduino Uno"},
      {0x2341, 0x0043, "Arduino Uno"},
      {0x2341, 0x0243, "Arduino Uno"},
      {0x2A03, 0x0043, "Arduino Uno"},
      {0x2341, 0x0010, "Arduino Mega 2560"},
      {0x2341, 0x0042, "Arduino Mega 2560"},
      {0x2A03, 0x0010, "Arduino Mega 2560"},
      {0x2A03, 0x0042, "Arduino Mega 2560"},
      {0x1A86, 0x7523, "Arduino Nano or a clone (CH340 USB serial)"},
      {0x0403, 0x6001, "Arduino Nano or a clone (FTDI FT232R USB serial)"},
      {0x0403, 0x6015, "Arduino or clone (FTDI FT231X USB serial)"},
  };
  for (const KnownId& known : kKnown) {
    if (known.vendor == vendor_id && known.product == product_id) return known.board;
  }
  return {};
}

}  // namespace arduino
