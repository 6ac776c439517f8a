// A pseudo-terminal pair standing in for a board on a serial port: the test
// or bench holds the master side, the library opens the slave through
// ARDUINO_BLOCK_COM<n>.  POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace harness {

class PtyPair {
 public:
  explicit PtyPair(int com_port) : com_port_(com_port) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slave_path_ = ptsname(master_);
    setenv(Variable().c_str(), slave_path_.c_str(), 1);
  }
  ~PtyPair() {
    unsetenv(Variable().c_str());
    if (master_ >= 0) close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave_path() const { return slave_path_; }

  // What the board sends.
  void Write(const std::string& bytes) const {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("pty write failed");
    }
  }
  // Everything the library wrote within `quiet_ms` of silence.
  std::string ReadAvailable(int quiet_ms = 50) const {
    std::string bytes;
    pollfd watch{master_, POLLIN, 0};
    while (poll(&watch, 1, quiet_ms) == 1 && (watch.revents & POLLIN)) {
      char chunk[256];
      ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.append(chunk, n);
    }
    return bytes;
  }
  // The board hangs up.
  void CloseMaster() {
    close(master_);
    master_ = -1;
  }

 private:
  std::string Variable() const { return "ARDUINO_BLOCK_COM" + std::to_string(com_port_); }

  int com_port_;
  int master_ = -1;
  std::string slave_path_;
};

}  // namespace harness
