#include "link/exchange.h"

#include <algorithm>
#include <cstring>

#include "arduino_block.h"
#include "base/application.h"
#include "base/ticks.h"
#include "block/user_data.h"
#include "link/serial.h"

namespace arduino {

TNMUDP& EndpointOf(TUserData& block) {
  if (!block.Udp) throw Exception("The block has no UDP endpoint: its socket could not be created");
  return *block.Udp;
}

// The UDP half of a reply: the endpoint calls this from a pump pass, which
// is how ReceiveReply's wait learns that the board has answered.
void TDummy::UdpDataReceived(TNMUDP* Sender, int32_t NumberBytes, const std::string& FromIP,
                             int32_t Port) {
  // The last byte never takes a datagram byte, and the text ends at the
  // first zero byte, as a C string read from the buffer would.
  char buffer[kUdpReplyBufferSize];
  int32_t length = 0;
  UserData->Udp->ReadDatagram(buffer, static_cast<int32_t>(kUdpReplyBufferSize - 1), length);
  const size_t copied = length > 0 ? std::min<size_t>(length, kUdpReplyBufferSize - 1) : 0;
  UserData->ReplyText.assign(buffer, strnlen(buffer, copied));
  UserData->ReplyReceived = true;
}

std::string ExchangeCommand(TUserData& block, std::string_view command) {
  SendCommand(block, command);
  return ReceiveReply(block);
}

void SendCommand(TUserData& block, std::string_view command) {
  if (block.InterfaceKind != kInterfaceEthernet) {
    SerialSendCommand(command);
    return;
  }
  char buffer[kUdpSendBufferSize] = {};
  size_t length = std::min(command.size(), kUdpSendBufferSize - 1);
  std::memcpy(buffer, command.data(), length);
  EndpointOf(block).SendDatagram(buffer, static_cast<int32_t>(length));
}

std::string ReceiveReply(TUserData& block) {
  // The wait starts here, so the time spent sending does not count.
  uint32_t start = TickCount();
  if (block.InterfaceKind != kInterfaceEthernet) return SerialReceiveReply(start);

  // Only a reply whose notification is handled during this wait counts; one
  // handled before is cleared here.  A late reply still queued is taken as
  // this command's reply, which the board protocol has always accepted.
  block.ReplyReceived = false;
  block.ReplyText.clear();
  TApplication& application = Application();
  application.PumpUntilAfterFirstSleep([&block] { return block.ReplyReceived; }, start,
                                       kUdpReplyWaitMs);
  application.RestoreHostState();
  return block.ReplyText;
}

}  // namespace arduino
