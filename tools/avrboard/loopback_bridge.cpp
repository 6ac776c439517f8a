#include "loopback_bridge.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

namespace avrboard {
namespace {

// Larger than any UDP datagram, so that the kernel never truncates one and
// the chip sees the true size (and drops it when too large).
constexpr size_t kReceiveBuffer = 65536;

}  // namespace

sockaddr_in LoopbackDestination(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

std::optional<uint16_t> ParseLoopbackEndpoint(std::string_view text) {
  constexpr std::string_view kLoopback = "127.0.0.1:";
  if (text.substr(0, kLoopback.size()) != kLoopback) return std::nullopt;
  const std::string_view digits = text.substr(kLoopback.size());
  unsigned port = 0;
  const auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || failure != std::errc() || end != digits.data() + digits.size() ||
      port > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

std::optional<LoopbackBridge> LoopbackBridge::Open(uint16_t port, std::string* error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make a UDP socket: ") + std::strerror(errno);
    return std::nullopt;
  }
  const sockaddr_in local = LoopbackDestination(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    *error = "cannot bind UDP 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return std::nullopt;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  return LoopbackBridge(fd, ntohs(bound.sin_port));
}

LoopbackBridge::~LoopbackBridge() {
  if (fd_ >= 0) close(fd_);
}

std::optional<PeerDatagram> LoopbackBridge::Receive() {
  static char buffer[kReceiveBuffer];
  sockaddr_in from{};
  socklen_t from_length = sizeof from;
  const ssize_t got =
      recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
  if (got < 0) return std::nullopt;
  PeerDatagram datagram;
  const uint32_t source = ntohl(from.sin_addr.s_addr);
  datagram.source = {static_cast<uint8_t>(source >> 24), static_cast<uint8_t>(source >> 16),
                     static_cast<uint8_t>(source >> 8), static_cast<uint8_t>(source)};
  datagram.source_port = ntohs(from.sin_port);
  datagram.payload.assign(buffer, static_cast<size_t>(got));
  return datagram;
}

bool LoopbackBridge::Forward(const SentDatagram& datagram) {
  const sockaddr_in to = LoopbackDestination(datagram.destination_port);
  const std::string& payload = datagram.payload;
  return sendto(fd_, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                sizeof to) == static_cast<ssize_t>(payload.size());
}

}  // namespace avrboard
