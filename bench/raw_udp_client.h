// The raw UDP client the native bench holds the library against: it does
// what the block must do for one exchange and nothing more.  An unconnected
// socket bound to a port of its own on loopback (the block's is bound and
// sends to whichever board its settings name), a send, one wait bounded by
// the block's reply limit, and then every datagram waiting read, in one
// batch as the block reads them, since a late reply to an earlier command
// may be queued before this one's.  POSIX only.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace bench {

class RawUdpClient {
 public:
  // Bound to 127.0.0.1 on a port the system picks, sending to `board_port`
  // there.  Throws naming the system's error when the socket cannot be made.
  explicit RawUdpClient(uint16_t board_port);
  ~RawUdpClient();
  RawUdpClient(const RawUdpClient&) = delete;
  RawUdpClient& operator=(const RawUdpClient&) = delete;

  uint16_t port() const { return port_; }

  // Sends `command`, waits at most `limit` for something to read, and reads
  // all that waits.  The number of datagrams read: 0 when the limit ran out.
  int Exchange(const std::string& command, std::chrono::milliseconds limit);

 private:
  static constexpr unsigned kBatch = 8;
  static constexpr size_t kLargest = 1472;  // the most a datagram carries on Ethernet

  int fd_ = -1;
  uint16_t port_ = 0;
  sockaddr_in board_{};
  char buffers_[kBatch][kLargest];
};

}  // namespace bench
