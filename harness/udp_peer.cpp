// What both platforms' peers share: the text of an address, their errors,
// and the calls built on ReceiveFrom.
#include "udp_peer.h"

#include "udp_peer_shared.h"

namespace harness {

std::string AddressText(uint32_t address, uint16_t port) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF) + ":" +
         std::to_string(port);
}

std::runtime_error PeerError(const std::string& what, uint32_t address, uint16_t port,
                             const std::string& system_error) {
  return std::runtime_error("cannot " + what + " " + AddressText(address, port) + ": " +
                            system_error);
}

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
