// The other end of a UDP link on loopback, for tests and benches on both
// systems: a plain socket (UdpPeer), and a board that answers commands from a
// thread of its own (AnsweringPeer).  A peer that cannot bind throws, naming
// the address and the system's error, instead of leaving a test to time out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace harness {

using std::chrono::milliseconds;

// IPv4 addresses in host byte order.
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
constexpr uint32_t kAnyAddress = 0;         // every address of this machine

// A receive that waits without limit, and without the poll a limit needs:
// what a bench's raw round trip asks for.
constexpr milliseconds kNoLimit = milliseconds::max();

struct Datagram {
  std::string bytes;
  uint16_t from_port = 0;
};

class UdpPeer {
 public:
  // Binds to `address`:`port`, port 0 taking any free one.  Throws
  // std::runtime_error naming the address and the system's error when the
  // socket cannot be made or bound.  Datagrams go to 127.0.0.1 only.
  explicit UdpPeer(uint32_t address = kLoopback, uint16_t port = 0);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  uint16_t port() const;
  // Sends `bytes` to 127.0.0.1:`port`; throws when the system refuses.
  void SendTo(uint16_t port, const std::string& bytes) const;
  // Ties the peer to 127.0.0.1:`port`, after which it receives from that
  // port only.  Send then names no address, and the system finds the route
  // once rather than for every datagram: the cheapest exchange there is, for
  // a bench's raw client.  Throws when the system refuses.
  void Connect(uint16_t port);
  // Sends `bytes` to the connected port; throws when the system refuses.
  void Send(const std::string& bytes) const;
  // The next datagram within `timeout`, with the port it came from.
  std::optional<Datagram> ReceiveFrom(milliseconds timeout = milliseconds(1'000)) const;
  // The same, the bytes only.
  std::optional<std::string> Receive(milliseconds timeout = milliseconds(1'000)) const;
  // Sends and waits for one reply.
  std::optional<std::string> Ask(uint16_t port, const std::string& bytes,
                                 milliseconds timeout = milliseconds(3'000)) const;

 private:
  uintptr_t socket_;  // an int descriptor or a SOCKET, by platform
  mutable std::vector<char> buffer_;
};

// A board on loopback UDP that answers from a thread of its own, so that its
// replies arrive while the library waits.  Each reply goes back to the
// sender's port, after the delay.
class AnsweringPeer {
 public:
  // The reply to a command, or nothing to stay silent.
  using Script = std::function<std::optional<std::string>(const std::string& command)>;

  explicit AnsweringPeer(Script script, int delay_ms = 0);
  ~AnsweringPeer();
  AnsweringPeer(const AnsweringPeer&) = delete;
  AnsweringPeer& operator=(const AnsweringPeer&) = delete;

  uint16_t port() const { return peer_.port(); }
  // Every command received so far, in order.
  std::vector<std::string> commands() const;
  void set_delay_ms(int ms) { delay_ms_ = ms; }

 private:
  void Serve();

  Script script_;
  std::atomic<int> delay_ms_;
  UdpPeer peer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::thread thread_;
};

}  // namespace harness
