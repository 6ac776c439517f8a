// The one way the block talks to its board: a command sent, one reply
// awaited.  The link is chosen by InterfaceKind at every call: 0 the UDP
// endpoint, anything else the library's serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/NMUDP.h"
#include "link/link_waits.h"

namespace arduino {

struct TUserData;

// A command, at most 100 characters, and its terminating zero.
constexpr size_t kUdpSendBufferSize = 101;
// A reply's text, at most 300 bytes of the datagram, and its terminating zero.
constexpr size_t kUdpReplyBufferSize = 301;

std::string ExchangeCommand(TUserData& block, std::string_view command);
void SendCommand(TUserData& block, std::string_view command);
// Waits for the reply: the text of the last datagram received during the
// wait (UDP), or one line (serial); empty when nothing came in time.
std::string ReceiveReply(TUserData& block);

// The block's endpoint, or an Exception when the block has none because its
// creation failed.
TNMUDP& EndpointOf(TUserData& block);

}  // namespace arduino
