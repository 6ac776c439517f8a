// The POSIX side of the test helpers: a scratch file reached through its
// descriptor, a loopback UDP peer on BSD sockets, and the check that this
// process sees no network but loopback.  CMake puts this directory on the
// include path of the Linux builds only.
#pragma once

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace arduino::testing {

// The library's messages are UTF-8 on Linux.
constexpr char kUUmlaut[] = "\xc3\xbc";

// Locale names that give a comma as decimal separator, where installed.
constexpr const char* kCommaLocaleNames[] = {"de_DE.UTF-8", "de_DE.utf8"};

inline void SleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

// What could carry a name look-up made by this process off the machine, or
// nothing when only loopback is there (as in the network namespace that
// ./run test gives the tests).  Tests that look up a name that must not
// resolve skip unless this is empty: the look-up then fails at once with
// nothing sent, whatever the system's resolver would have answered.
inline std::optional<std::string> NetworkBeyondLoopback() {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return "the network interfaces cannot be listed";
  std::optional<std::string> found;
  for (ifaddrs* i = interfaces; i != nullptr && !found; i = i->ifa_next) {
    if ((i->ifa_flags & IFF_LOOPBACK) == 0) found = std::string("the interface ") + i->ifa_name;
  }
  freeifaddrs(interfaces);
  if (found) return found;
  // nscd and systemd-resolved take look-ups over a Unix socket, which
  // reaches the daemon outside the network namespace; it would send the
  // query on from there.
  if (access("/var/run/nscd/socket", F_OK) == 0) return "nscd, which looks names up outside";
  std::ifstream nsswitch("/etc/nsswitch.conf");
  for (std::string line; std::getline(nsswitch, line);) {
    if (line.rfind("hosts:", 0) == 0 && line.find("resolve") != std::string::npos &&
        access("/run/systemd/resolve/io.systemd.Resolve", F_OK) == 0) {
      return "systemd-resolved, which looks names up outside";
    }
  }
  return std::nullopt;
}

// An anonymous scratch file reached through its descriptor, like the host's
// project file.
class ScratchFile {
 public:
  ScratchFile() : file_(tmpfile()) {}
  ~ScratchFile() { fclose(file_); }
  uint32_t handle() const { return static_cast<uint32_t>(fileno(file_)); }
  std::string Contents() const {
    off_t position = lseek(fileno(file_), 0, SEEK_CUR);
    std::string all;
    char chunk[4096];
    ssize_t n;
    lseek(fileno(file_), 0, SEEK_SET);
    while ((n = read(fileno(file_), chunk, sizeof chunk)) > 0) all.append(chunk, n);
    lseek(fileno(file_), position, SEEK_SET);
    return all;
  }
  void Replace(const std::string& bytes) {
    lseek(fileno(file_), 0, SEEK_SET);
    if (ftruncate(fileno(file_), 0) != 0 ||
        write(fileno(file_), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("cannot write scratch file");
    }
    lseek(fileno(file_), 0, SEEK_SET);
  }
  off_t Position() const { return lseek(fileno(file_), 0, SEEK_CUR); }
  void Rewind() { lseek(fileno(file_), 0, SEEK_SET); }

 private:
  FILE* file_;
};

// A plain UDP socket on loopback playing the board's side.  Bound to
// INADDR_ANY instead, it also takes what is sent to this machine's other
// addresses, such as the one its host name resolves to.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(in_addr_t address = INADDR_LOOPBACK) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      throw std::runtime_error("cannot bind loopback peer");
    }
  }
  ~LoopbackPeer() { close(fd_); }
  uint16_t port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  void SendTo(uint16_t port, const std::string& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  struct Datagram {
    std::string bytes;
    uint16_t from_port;
  };
  std::optional<Datagram> Receive(int timeout_ms = 1000) const {
    pollfd watch{fd_, POLLIN, 0};
    if (poll(&watch, 1, timeout_ms) != 1) return std::nullopt;
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n =
        recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    return Datagram{std::string(buffer, n), ntohs(from.sin_port)};
  }

 private:
  int fd_;
};

}  // namespace arduino::testing
