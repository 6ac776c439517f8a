// What a new block holds, as the documentation of the project file lists
// it: the one statement of the defaults that the tests of the library, of
// its dialog and of blockhost hold them to.  Needs no part of the library
// but the tool door, so blockhost's own tests use it too.
#pragma once

#include "settings_record.h"
#include "tool_api/block_codes.h"

namespace arduino::testing {

inline hostmodel::BlockSettings DefaultFields() {
  hostmodel::BlockSettings f;
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
