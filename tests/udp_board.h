// A board on loopback UDP, answering from a thread of its own so that its
// replies arrive while the library waits.  Replies go to the sender.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace arduino::testing {

class UdpBoard {
 public:
  // The reply to a command, or nothing to stay silent.
  using Script = std::function<std::optional<std::string>(const std::string& command)>;

  explicit UdpBoard(Script script, int delay_ms = 0)
      : script_(std::move(script)), delay_ms_(delay_ms) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    thread_ = std::thread([this] { Serve(); });
  }
  ~UdpBoard() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }

  uint16_t port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void set_delay_ms(int ms) { delay_ms_ = ms; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd watch{fd_, POLLIN, 0};
      if (poll(&watch, 1, 20) != 1) continue;
      char buffer[4096];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) continue;
      std::string command(buffer, n);
      {
        std::lock_guard lock(mutex_);
        log_.push_back(command);
      }
      std::optional<std::string> reply = script_(command);
      if (!reply) continue;
      if (delay_ms_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_.load()));
      sendto(fd_, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
  }

  Script script_;
  std::atomic<int> delay_ms_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::thread thread_;
};

}  // namespace arduino::testing
