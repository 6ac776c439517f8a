// What both platforms' peers share: the calls built on ReceiveFrom.
#include "udp_peer.h"

namespace harness {

std::optional<std::string> UdpPeer::Receive(milliseconds timeout) const {
  std::optional<Datagram> datagram = ReceiveFrom(timeout);
  if (!datagram) return std::nullopt;
  return std::move(datagram->bytes);
}

std::optional<std::string> UdpPeer::Ask(uint16_t port, const std::string& bytes,
                                        milliseconds timeout) const {
  SendTo(port, bytes);
  return Receive(timeout);
}

}  // namespace harness
