#include "raw_udp_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace bench {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("raw UDP client: ") + what + ": " + std::strerror(errno));
}

}  // namespace

RawUdpClient::RawUdpClient(uint16_t board_port) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) Fail("socket");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    const int error = errno;
    close(fd_);
    errno = error;
    Fail("bind to 127.0.0.1");
  }
  port_ = ntohs(local.sin_port);
  board_.sin_family = AF_INET;
  board_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  board_.sin_port = htons(board_port);
}

RawUdpClient::~RawUdpClient() { close(fd_); }

int RawUdpClient::Exchange(const std::string& command, std::chrono::milliseconds limit) {
  // As the block does, a datagram the system refuses is lost and the wait
  // runs out.
  (void)sendto(fd_, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&board_),
               sizeof board_);
  pollfd watch{fd_, POLLIN, 0};
  const int ready = poll(&watch, 1, static_cast<int>(limit.count()));
  if (ready <= 0) return 0;
  mmsghdr messages[kBatch];
  iovec pieces[kBatch];
  sockaddr_in from[kBatch];
  int taken = 0;
  while (true) {
    std::memset(messages, 0, sizeof messages);
    for (unsigned i = 0; i < kBatch; ++i) {
      pieces[i] = {buffers_[i], kLargest};
      messages[i].msg_hdr.msg_iov = &pieces[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = &from[i];
      messages[i].msg_hdr.msg_namelen = sizeof from[i];
    }
    const int count = recvmmsg(fd_, messages, kBatch, MSG_DONTWAIT, nullptr);
    if (count <= 0) return taken;
    taken += count;
    // A batch not full was all there was.
    if (static_cast<unsigned>(count) < kBatch) return taken;
  }
}

}  // namespace bench
