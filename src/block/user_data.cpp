#include "block/user_data.h"

namespace arduino {

void SetDefaults(TUserData& d) {
  d.InterfaceKind = kInterfaceEthernet;
  d.ComPort = 1;
  d.BaudRate = 9600;
  d.IPAddress = "192.168.0.121";
  d.UdpPort = 1600;
  for (int pin = 2; pin <= 5; ++pin) d.PinMode[pin] = pmDigitalInput;
  for (int pin = 6; pin <= 9; ++pin) d.PinMode[pin] = pmDigitalOutput;
  d.AnalogUsed.fill(1);
}

}  // namespace arduino
