// The W5100's wire: one UDP socket on this machine's loopback interface.
// Datagrams loopback peers send to it go into the chip; datagrams the
// firmware sends come out of it, always to 127.0.0.1, whatever address the
// firmware named.  Bound to 127.0.0.1 and sending only there, the simulated
// board can never reach a network beyond this machine.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "w5100.h"

namespace avrboard {

// Where a datagram the firmware sends to `port` goes: 127.0.0.1:port.  The
// address the firmware wrote into Sn_DIPR is deliberately not an argument.
sockaddr_in LoopbackDestination(uint16_t port);

// The port of "127.0.0.1:PORT" (0..65535), or nothing for any other text:
// the W5100's wire is the loopback interface and nothing else.
std::optional<uint16_t> ParseLoopbackEndpoint(std::string_view text);

// A datagram from a loopback peer.
struct PeerDatagram {
  Ipv4 source{};
  uint16_t source_port = 0;
  std::string payload;
};

class LoopbackBridge {
 public:
  // Binds 127.0.0.1:port (0: any free port).  Nothing with *error set when
  // the port is taken or no socket can be made.
  static std::optional<LoopbackBridge> Open(uint16_t port, std::string* error);
  LoopbackBridge(LoopbackBridge&& other) noexcept : fd_(other.fd_), port_(other.port_) {
    other.fd_ = -1;
  }
  LoopbackBridge& operator=(LoopbackBridge&&) = delete;
  ~LoopbackBridge();

  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

  // The next waiting datagram, without blocking; nothing when none waits.
  std::optional<PeerDatagram> Receive();
  // Puts a datagram the firmware sent on the wire: to 127.0.0.1 at its
  // destination port, whatever its destination address.  False when the
  // kernel refused it (nobody listening is no refusal for UDP).
  bool Forward(const SentDatagram& datagram);

 private:
  LoopbackBridge(int fd, uint16_t port) : fd_(fd), port_(port) {}
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace avrboard
