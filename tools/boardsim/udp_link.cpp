#include "udp_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace boardsim {

std::optional<UdpLink> UdpLink::Open(const std::string& host, uint16_t port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0) {
    *error = "cannot resolve '" + host + "': " + gai_strerror(rc);
    return std::nullopt;
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof(address));
  freeaddrinfo(found);
  address.sin_port = htons(port);

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    *error = "cannot bind " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return std::nullopt;
  }
  return UdpLink(fd);
}

UdpLink::UdpLink(UdpLink&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

UdpLink::~UdpLink() {
  if (fd_ >= 0) close(fd_);
}

std::string UdpLink::LocalAddress() const {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

bool UdpLink::Receive(std::string* datagram, sockaddr_in* sender) {
  // The largest possible UDP payload, so an oversized command is seen whole
  // and answered with a length error instead of being cut to look valid.
  static std::vector<char> buffer(65536);
  socklen_t length = sizeof(*sender);
  const ssize_t got =
      recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(sender), &length);
  if (got < 0) return false;
  datagram->assign(buffer.data(), static_cast<size_t>(got));
  return true;
}

bool UdpLink::Send(const std::string& datagram, const sockaddr_in& destination,
                   std::string* error) {
  const ssize_t sent = sendto(fd_, datagram.data(), datagram.size(), 0,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
  if (sent == static_cast<ssize_t>(datagram.size())) return true;
  *error = std::string("sendto: ") + (sent < 0 ? std::strerror(errno) : "short write");
  return false;
}

}  // namespace boardsim
