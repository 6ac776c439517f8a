#include "block/user_data.h"

namespace arduino {

void SetDefaults(TUserData& d) {
  d.InterfaceKind = 0;
  d.ComPort = 1;
  d.BaudRate = 9600;
  d.IPAddress = "192.168.0.121";
  d.UdpPort = 1600;
  for (int pin = 2; pin <= 5; ++pin) d.PinMode[pin] = pmDigitalInput;
  for (int pin = 6; pin <= 9; ++pin) d.PinMode[pin] = pmDigitalOutput;
  d.AnalogUsed.fill(1);
}

void TDummy::UdpDataReceived(TNMUDP* Sender, int32_t NumberBytes, const std::string& FromIP,
                             int32_t Port) {
  // A 301-byte buffer of which at most 300 bytes take datagram bytes, so the
  // text always ends in a zero byte.
  char buffer[301] = {};
  int32_t length = 0;
  UserData->Udp->ReadDatagram(buffer, 300, length);
  UserData->ReplyText = buffer;
  UserData->ReplyReceived = true;
}

}  // namespace arduino
