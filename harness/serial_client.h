// The host's end of a serial line to a board on a pseudo-terminal (boardsim
// --pty, avrboard), opened in raw mode as the block opens a port.  POSIX
// only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace harness {

using std::chrono::milliseconds;

class SerialClient {
 public:
  // Opens `path` (the pty's slave or a link to it) at `baud`, one of 9600,
  // 19200, 38400 and 115200 (avrboard garbles the line when it differs from
  // the firmware's speed); valid() tells whether that worked.
  explicit SerialClient(const std::string& path, int baud = 9600);
  ~SerialClient();
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  bool valid() const { return fd_ >= 0; }
  // Sets the line's speed, as the block does for its baud rate; false for a
  // rate termios has no constant for, or when the line refuses it.
  bool SetBaudRate(int32_t baud_rate);
  // Writes all of `bytes`; throws when the line refuses them.
  void Write(const std::string& bytes);
  // Reads until `terminator` has arrived or the time-out passes; returns all
  // bytes read either way.
  std::string ReadUntil(const std::string& terminator, milliseconds timeout);
  // Reads whatever arrives within `duration`; stops early at end of file.
  // *closed reports whether the other side went away.
  std::string ReadFor(milliseconds duration, bool* closed = nullptr);

  // One byte at a time, as any client of the serial link must: one write
  // call per byte, and per byte a wait of at most `wait` and one read.  For
  // the bench's raw client, the floor that the block is counted against.
  void WriteByte(char byte);
  // The next byte, or nothing when none came within `wait`; throws when the
  // line has gone.
  std::optional<char> ReadByte(milliseconds wait);

 private:
  int fd_;
};

}  // namespace harness
