// Helpers shared by the tests: a host-side block record, value arrays and a
// scratch file, as a host would hand them to the library.
#pragma once

#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/extended.h"
#include "host/block_record.h"
#include "host/user_data.h"

namespace arduino::testing {

constexpr size_t kBlockRecordSize = 8192;
constexpr uint8_t kHostFill = 0xA5;  // bytes the library must leave alone

// A block created through InitUserDLL in a host-owned record.
class HostBlock {
 public:
  explicit HostBlock(uint32_t app_handle = 0) : record_(kBlockRecordSize, kHostFill) {
    std::memcpy(record_.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, &app_handle, 4);
    InitUserDLL(record_.data());
  }
  ~HostBlock() {
    if (alive_) DisposeUserDLL(record_.data());
  }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;

  void Dispose() {
    DisposeUserDLL(record_.data());
    alive_ = false;
  }
  void* record() { return record_.data(); }
  const std::vector<uint8_t>& bytes() const { return record_; }
  TUserData& data() { return UserDataOf(record_.data()); }
  uint32_t key() const {
    uint32_t key;
    std::memcpy(&key, record_.data() + ARDUINO_BLOCK_USERDATA_OFFSET, 4);
    return key;
  }

 private:
  std::vector<uint8_t> record_;
  bool alive_ = true;
};

// A host value array of packed 10-byte extended values.
class ValueArray {
 public:
  explicit ValueArray(size_t count, long double fill = 0.0L) : bytes_(count * kExtendedSize) {
    for (size_t i = 0; i < count; ++i) set(i, fill);
  }
  long double operator[](size_t i) const { return ReadValue(bytes_.data(), i); }
  void set(size_t i, long double value) { WriteValue(bytes_.data(), i, value); }
  void* data() { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

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

}  // namespace arduino::testing

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <optional>
#include <stdexcept>

#include "host/application.h"

namespace arduino::testing {

// A plain UDP socket on loopback playing the board's side.
class LoopbackPeer {
 public:
  LoopbackPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return std::nullopt;
    return Datagram{std::string(buffer, n), ntohs(from.sin_port)};
  }

 private:
  int fd_;
};

// Runs pump passes until `done` holds or about `limit_ms` have passed.
template <class Predicate>
bool PumpUntil(Predicate done, int limit_ms = 2000) {
  for (int waited = 0; waited < limit_ms; waited += 5) {
    Application().ProcessMessages();
    if (done()) return true;
    usleep(5000);
  }
  return done();
}

}  // namespace arduino::testing
