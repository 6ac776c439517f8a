// Runs boardsim as a child process and talks to it the way the block would:
// over a loopback UDP socket or through the pseudo-terminal's slave end.
#ifndef TESTS_BOARD_BOARDSIM_PROCESS_H_
#define TESTS_BOARD_BOARDSIM_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace boardsim_test {

using std::chrono::milliseconds;

// Generous, because the test machines are shared and noisy.
constexpr milliseconds kStartTimeout{10'000};
constexpr milliseconds kReplyTimeout{3'000};

class BoardsimProcess {
 public:
  // Starts boardsim with `args` and waits for its start-up line.  Returns
  // nothing if it exited or stayed silent instead; *stderr_text then holds
  // what it said.
  static std::optional<BoardsimProcess> Start(const std::vector<std::string>& args,
                                              std::string* stderr_text);

  BoardsimProcess(BoardsimProcess&& other) noexcept;
  BoardsimProcess& operator=(BoardsimProcess&&) = delete;
  ~BoardsimProcess();  // Kills the process if it is still running.

  const std::string& startup_line() const { return startup_line_; }
  // The port named in a "listening on udp ADDR:PORT" start-up line.
  uint16_t udp_port() const;

  // Sends `signal_number` and waits for the exit; returns the exit status,
  // or -1 when it did not exit normally within the timeout.
  int Stop(int signal_number);
  // Waits for the process to exit on its own; same result as Stop.
  int WaitForExit(milliseconds timeout);
  // Everything written to stderr after the start-up line so far.
  std::string DrainStderr();

 private:
  BoardsimProcess(pid_t pid, int stderr_fd) : pid_(pid), stderr_fd_(stderr_fd) {}

  pid_t pid_;
  int stderr_fd_;
  std::string startup_line_;
  std::string stderr_rest_;
};

// Runs boardsim to completion (for --help and argument errors).
struct RunResult {
  int exit_status = -1;
  std::string stdout_text;
  std::string stderr_text;
};
RunResult RunBoardsim(const std::vector<std::string>& args);

class UdpClient {
 public:
  UdpClient();  // Bound to a free port on 127.0.0.1.
  ~UdpClient();
  UdpClient(const UdpClient&) = delete;
  UdpClient& operator=(const UdpClient&) = delete;

  uint16_t port() const;
  void Send(const std::string& datagram, uint16_t port);
  std::optional<std::string> Receive(milliseconds timeout);
  // Sends and waits for one reply.
  std::optional<std::string> Ask(const std::string& datagram, uint16_t port) {
    Send(datagram, port);
    return Receive(kReplyTimeout);
  }

 private:
  int fd_;
};

class SerialClient {
 public:
  // Opens the pseudo-terminal through its symlink in raw mode, as the block
  // opens a serial port.  valid() tells whether that worked.
  explicit SerialClient(const std::string& path);
  ~SerialClient();
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  bool valid() const { return fd_ >= 0; }
  void Write(const std::string& bytes);
  // Reads until `terminator` has arrived or the timeout passes; returns all
  // bytes read either way.
  std::string ReadUntil(const std::string& terminator, milliseconds timeout);
  // Reads whatever arrives within `duration`; stops early on end of file.
  // *closed reports whether the other side went away.
  std::string ReadFor(milliseconds duration, bool* closed = nullptr);

 private:
  int fd_;
};

// A fresh private directory for pty links and logs, removed by the caller's
// TearDown via RemoveTree.
std::string MakeTempDir();
void RemoveTree(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace boardsim_test

#endif  // TESTS_BOARD_BOARDSIM_PROCESS_H_
