// Low latency on Linux serial ports.  A USB-serial bridge holds what the
// board sent until its own timer runs out (an FTDI chip 16 ms by default);
// a driver asked for low latency hands each byte on at once, and FTDI's
// then runs its timer at 1 ms.  Ports that have no such setting (a
// pseudo-terminal, most drivers) refuse the request, which changes nothing.
#pragma once

#include <linux/serial.h>

namespace arduino {

// The two driver calls, so that the request can be tested without a
// driver that grants it.
struct SerialInfoCalls {
  int (*get)(int fd, serial_struct* info);
  int (*set)(int fd, const serial_struct* info);
};
// TIOCGSERIAL and TIOCSSERIAL.
extern const SerialInfoCalls kDriverSerialInfo;

// Asks the driver of `fd` for low latency and leaves every other setting of
// the port as it is.  True when the port has it afterwards; false where the
// driver refuses, which needs no word: the port then works as before.
bool RequestLowLatency(int fd, const SerialInfoCalls& calls = kDriverSerialInfo);

}  // namespace arduino
