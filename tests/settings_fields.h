// The settings fields of a block as one comparable, printable value, for
// tests that check a whole record at once; DefaultFields() is a new block's.
#pragma once

#include "block/user_data.h"
#include "default_settings.h"
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

}  // namespace arduino::testing
