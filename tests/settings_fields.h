// The settings fields of a block as one comparable, printable value, for
// tests that check a whole record at once.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "block/user_data.h"

namespace arduino::testing {

struct Fields {
  int32_t interface_kind, com_port, baud_rate, udp_port;
  std::string address;
  std::vector<int32_t> pins, analog;
  bool operator==(const Fields&) const = default;
};

inline Fields FieldsOf(const TUserData& d) {
  Fields f{d.InterfaceKind, d.ComPort, d.BaudRate, d.UdpPort, d.IPAddress, {}, {}};
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) f.pins.push_back(d.PinMode[pin]);
  f.analog.assign(d.AnalogUsed.begin(), d.AnalogUsed.end());
  return f;
}

inline void PrintTo(const Fields& f, std::ostream* os) {
  *os << "{kind " << f.interface_kind << ", com " << f.com_port << ", baud " << f.baud_rate
      << ", port " << f.udp_port << ", \"" << f.address << "\", pins";
  for (int32_t p : f.pins) *os << ' ' << p;
  *os << ", analog";
  for (int32_t a : f.analog) *os << ' ' << a;
  *os << '}';
}

}  // namespace arduino::testing
