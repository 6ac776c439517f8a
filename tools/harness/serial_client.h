// The host's end of a serial line to a board on a pseudo-terminal (boardsim
// --pty, avrboard), opened in raw mode as the block opens a port.  POSIX
// only.
#pragma once

#include <chrono>
#include <string>

namespace harness {

using std::chrono::milliseconds;

class SerialClient {
 public:
  // Opens `path` (the pty's slave or a link to it); valid() tells whether
  // that worked.
  explicit SerialClient(const std::string& path);
  ~SerialClient();
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  bool valid() const { return fd_ >= 0; }
  // Writes all of `bytes`; throws when the line refuses them.
  void Write(const std::string& bytes);
  // Reads until `terminator` has arrived or the time-out passes; returns all
  // bytes read either way.
  std::string ReadUntil(const std::string& terminator, milliseconds timeout);
  // Reads whatever arrives within `duration`; stops early at end of file.
  // *closed reports whether the other side went away.
  std::string ReadFor(milliseconds duration, bool* closed = nullptr);

 private:
  int fd_;
};

}  // namespace harness
