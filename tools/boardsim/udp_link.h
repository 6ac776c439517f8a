// The UDP side of boardsim: one datagram in is one command, one datagram out
// is one reply.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace boardsim {

class UdpLink {
 public:
  // Binds a socket to host:port (port 0 picks a free one).  On failure
  // returns nothing and sets *error.
  static std::optional<UdpLink> Open(const std::string& host, uint16_t port, std::string* error);

  UdpLink(UdpLink&& other) noexcept;
  UdpLink& operator=(UdpLink&&) = delete;
  ~UdpLink();

  int fd() const { return fd_; }
  // The bound address as ADDR:PORT, with the port actually chosen.
  std::string LocalAddress() const;

  // Reads one pending datagram without blocking.  Returns false when none is
  // waiting.
  bool Receive(std::string* datagram, sockaddr_in* sender);
  // Returns false with *error set when the datagram could not be sent.
  bool Send(const std::string& datagram, const sockaddr_in& destination, std::string* error);

 private:
  explicit UdpLink(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace boardsim
