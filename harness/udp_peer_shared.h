// What both platforms' UDP peers share: the text of an address and the
// errors they throw, defined in udp_peer.cpp, and the socket address they
// fill as the library fills its own.  Included by udp_peer_posix.cpp and
// udp_peer_win32.cpp only, after their system's socket headers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tool_api/socket_address.h"

namespace harness {

using arduino::Ipv4SocketAddress;

// "127.0.0.1:1600", for an address in host byte order.
std::string AddressText(uint32_t address, uint16_t port);

// The error of a call that failed on `address`:`port`:
// "cannot <what> <address>:<port>: <system_error>".
std::runtime_error PeerError(const std::string& what, uint32_t address, uint16_t port,
                             const std::string& system_error);

}  // namespace harness
