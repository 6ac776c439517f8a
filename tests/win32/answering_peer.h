// A board on loopback UDP that answers from a thread of its own, so that its
// replies arrive while the DLL waits in its message pump.  Each reply goes
// back to the sender of the command.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace arduino::testing {

class AnsweringPeer {
 public:
  using Script = std::function<std::string(const std::string& command)>;

  explicit AnsweringPeer(Script script) : script_(std::move(script)) {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) throw std::runtime_error("cannot start Windows Sockets");
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      throw std::runtime_error("cannot bind the answering peer");
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~AnsweringPeer() {
    stop_ = true;
    thread_.join();
    closesocket(socket_);
    WSACleanup();
  }

  uint16_t port() const {
    sockaddr_in local{};
    int length = sizeof local;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  std::vector<std::string> commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }

 private:
  void Serve() {
    while (!stop_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_, &readable);
      timeval limit{0, 20000};
      if (select(0, &readable, nullptr, nullptr, &limit) != 1) continue;
      char buffer[2048];
      sockaddr_in from{};
      int length = sizeof from;
      int n = recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                       &length);
      if (n < 0) continue;
      std::string command(buffer, n);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(command);
      }
      std::string reply = script_(command);
      if (reply.empty()) continue;  // silent
      sendto(socket_, reply.data(), static_cast<int>(reply.size()), 0,
             reinterpret_cast<sockaddr*>(&from), length);
    }
  }

  Script script_;
  SOCKET socket_ = INVALID_SOCKET;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::thread thread_;
};

}  // namespace arduino::testing
