// The UDP peer on BSD sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "udp_peer.h"
#include "udp_peer_shared.h"

namespace harness {
namespace {

int Fd(uintptr_t socket) { return static_cast<int>(socket); }

std::string SystemError(int error) {
  return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  return Ipv4SocketAddress<sockaddr_in>(AF_INET, htonl(address), htons(port));
}

}  // namespace

UdpPeer::UdpPeer(uint32_t address, uint16_t port) : buffer_(65536) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("cannot make a UDP socket: " + SystemError(errno));
  sockaddr_in local = SocketAddress(address, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    close(fd);
    throw PeerError("bind a UDP peer to", address, port, SystemError(error));
  }
  socket_ = static_cast<uintptr_t>(fd);
}

UdpPeer::~UdpPeer() { close(Fd(socket_)); }

uint16_t UdpPeer::port() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  getsockname(Fd(socket_), reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.sin_port);
}

void UdpPeer::SendTo(uint16_t port, const std::string& bytes) const {
  sockaddr_in to = SocketAddress(kLoopback, port);
  if (sendto(Fd(socket_), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to) < 0) {
    throw PeerError("send to", kLoopback, port, SystemError(errno));
  }
}

void UdpPeer::Connect(uint16_t port) {
  sockaddr_in to = SocketAddress(kLoopback, port);
  if (connect(Fd(socket_), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    throw PeerError("connect to", kLoopback, port, SystemError(errno));
  }
}

void UdpPeer::Send(const std::string& bytes) const {
  if (send(Fd(socket_), bytes.data(), bytes.size(), 0) < 0) {
    throw std::runtime_error("cannot send on a connected UDP peer: " + SystemError(errno));
  }
}

std::optional<Datagram> UdpPeer::ReceiveFrom(milliseconds timeout) const {
  if (timeout != kNoLimit) {
    pollfd watch{Fd(socket_), POLLIN, 0};
    if (poll(&watch, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
  }
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = recvfrom(Fd(socket_), buffer_.data(), buffer_.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  return Datagram{std::string(buffer_.data(), static_cast<size_t>(n)), ntohs(from.sin_port)};
}

}  // namespace harness
