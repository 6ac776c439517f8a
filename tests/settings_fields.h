// The settings fields of a block as one comparable, printable value, for
// tests that check a whole record at once.
#pragma once

#include "block/user_data.h"
#include "settings_record.h"

namespace arduino::testing {

using Fields = hostmodel::BlockSettings;

inline Fields FieldsOf(const TUserData& d) {
  Fields f;
  f.interface_kind = d.InterfaceKind;
  f.com_port = d.ComPort;
  f.baud_rate = d.BaudRate;
  f.address = d.IPAddress;
  f.udp_port = d.UdpPort;
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) f.pin_mode[pin - kFirstPin] = d.PinMode[pin];
  f.analog_used = d.AnalogUsed;
  return f;
}

// What a new block holds, as the documentation of the project file lists it.
inline Fields DefaultFields() {
  Fields f;
  f.interface_kind = kInterfaceEthernet;
  f.com_port = 1;
  f.baud_rate = 9600;
  f.address = "192.168.0.121";
  f.udp_port = 1600;
  for (int pin = kFirstPin; pin <= kLastPin; ++pin) {
    f.pin_mode[pin - kFirstPin] = pin <= 5 ? pmDigitalInput : pmDigitalOutput;
  }
  f.analog_used.fill(1);
  return f;
}

}  // namespace arduino::testing
