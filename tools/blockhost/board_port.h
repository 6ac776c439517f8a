// The board's USB serial port as `board-address` uses it: opened the way a
// terminal opens it, so that an Uno restarts into its sketch as it does for
// the Arduino IDE's serial monitor, and read a line at a time.  This is not
// the block's serial link (src/link/serial.h), which holds the modem lines
// inactive and reads one reply with its own rules.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace blockhost {

using std::chrono::milliseconds;

class BoardPort {
 public:
  // Opens `device` raw 8N1 at `baud_rate`.  Nothing, with *error saying why
  // in the system's words, when it cannot be opened or configured.
  static std::optional<BoardPort> Open(const std::string& device, int32_t baud_rate,
                                       std::string* error);
  BoardPort(BoardPort&& other) noexcept;
  BoardPort& operator=(BoardPort&&) = delete;
  ~BoardPort();

  // Writes `line` and a line feed; false when the port refused it.
  bool WriteLine(const std::string& line);
  // The next line the board sends, without its CR or LF; nothing when no
  // whole line came within `timeout` or the port failed.  Empty lines are
  // skipped.  A partial line is kept for the next call.
  std::optional<std::string> ReadLine(milliseconds timeout);

 private:
  using Handle = intptr_t;
  explicit BoardPort(Handle handle) : handle_(handle) {}

  // The platform's part, in board_port_posix.cpp and board_port_win32.cpp.
  static std::optional<Handle> PlatformOpen(const std::string& device, int32_t baud_rate,
                                            std::string* error);
  static void PlatformClose(Handle handle);
  static bool PlatformWrite(Handle handle, const std::string& bytes);
  // Waits at most `wait` for bytes: their count, 0 when none came, -1 when
  // the port failed.
  static int PlatformRead(Handle handle, char* buffer, int size, milliseconds wait);

  Handle handle_;
  bool open_ = true;
  std::string pending_;  // received bytes not yet returned as a line
};

}  // namespace blockhost
