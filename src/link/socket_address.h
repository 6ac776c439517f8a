// The IPv4 socket address both platforms' endpoints bind and send to,
// filled in one place (the harness's peers at the board's end fill theirs
// with it too).  The caller names its system's sockaddr_in and AF_INET and
// puts the numbers in network byte order with its system's calls, so that
// this header needs neither system's socket headers; it is included after
// them, since Winsock names s_addr through a macro.
#pragma once

#include <cstdint>

namespace arduino {

// A SocketAddress (the system's sockaddr_in) of `family` (its AF_INET)
// holding `address` and `port`, both already in network byte order; every
// other byte zero.
template <typename SocketAddress, typename Family>
SocketAddress Ipv4SocketAddress(Family family, uint32_t address, uint16_t port) {
  SocketAddress socket_address{};
  socket_address.sin_family = static_cast<decltype(socket_address.sin_family)>(family);
  socket_address.sin_addr.s_addr = address;
  socket_address.sin_port = port;
  return socket_address;
}

}  // namespace arduino
