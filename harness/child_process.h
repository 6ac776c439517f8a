// Programs run beside a test or a bench: a board (boardsim, avrboard), the
// stand-in host, or Wine.  A background child is started, waited for until it
// prints its ready line on stderr, and ended when its object goes, however
// the test ends: a failed assertion or an exception stops it too.  POSIX only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harness {

using std::chrono::milliseconds;

// Generous, because the test machines are shared and noisy.
constexpr milliseconds kStartTimeout{10'000};
constexpr milliseconds kRunTimeout{120'000};

struct StartOptions {
  // The ready line is the first line on stderr that contains this text; left
  // empty, the first line of all.
  std::string ready_text;
  milliseconds timeout = kStartTimeout;
  // NAME=VALUE entries set in the child's environment over this process's.
  std::vector<std::string> environment;
};

class ChildProcess {
 public:
  // Starts args[0] with the arguments after it and waits for its ready line.
  // Throws std::runtime_error with what the child said when it cannot be
  // started, exits first, or stays silent past the time-out.
  static ChildProcess Start(const std::vector<std::string>& args, const StartOptions& options = {});
  // The same, for tests that assert on the start: nothing when it failed,
  // and *why says what happened.
  static std::optional<ChildProcess> TryStart(const std::vector<std::string>& args,
                                              std::string* why, const StartOptions& options = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  // SIGTERM, a bounded wait for the exit, then SIGKILL.
  ~ChildProcess();

  const std::string& ready_line() const { return ready_line_; }
  // The port after the last colon of the ready line, as in
  // "boardsim: listening on udp 127.0.0.1:40123"; throws when there is none.
  uint16_t udp_port() const;
  // Everything the child wrote on stderr so far, the ready line included.
  const std::string& stderr_text();
  // Waits until stderr holds `text` (said at any time since the start);
  // false when it does not within `timeout`.
  bool WaitForStderr(const std::string& text, milliseconds timeout);
  // Waits for a whole line holding `text` said at or after byte `from` of
  // stderr; the line without its end, or nothing when none comes within
  // `timeout`.
  std::optional<std::string> WaitForLine(const std::string& text, size_t from,
                                         milliseconds timeout);
  pid_t pid() const { return pid_; }

  // Sends `signal_number` and waits for the exit; the exit status, or -1
  // when it did not exit normally within the time-out.
  int Stop(int signal_number, milliseconds timeout = kStartTimeout);
  // Waits for the child to exit on its own; the same result as Stop.
  int WaitForExit(milliseconds timeout);

 private:
  ChildProcess(pid_t pid, int stderr_fd) : pid_(pid), stderr_fd_(stderr_fd) {}
  // Reads what stderr has within `wait`: the number of bytes read, 0 when
  // none came, -1 at end of file.
  int ReadStderr(milliseconds wait);

  pid_t pid_;
  int stderr_fd_;
  std::string stderr_;
  std::string ready_line_;
};

// boardsim started with `args` and waited for until it names its UDP port or
// its pseudo-terminal.
ChildProcess StartBoardsim(const std::string& boardsim, const std::vector<std::string>& args);
std::optional<ChildProcess> TryStartBoardsim(const std::string& boardsim,
                                             const std::vector<std::string>& args,
                                             std::string* why);

// avrboard started with `args` and waited for until it is ready.  Loading
// an image into simavr takes a while on a busy machine, so it is given
// longer than other programs unless the caller says otherwise.
constexpr milliseconds kAvrboardStartTimeout{15'000};
ChildProcess StartAvrboard(const std::string& avrboard, const std::vector<std::string>& args,
                           milliseconds timeout = kAvrboardStartTimeout);
std::optional<ChildProcess> TryStartAvrboard(const std::string& avrboard,
                                             const std::vector<std::string>& args, std::string* why,
                                             milliseconds timeout = kAvrboardStartTimeout);
// Asks a running avrboard with SIGUSR1 how the chip kept pace with the wall
// clock since it was asked last, and waits for its answer: the line
// "avrboard: pace: ..." that tools/avrboard/pace_meter.h describes, or ""
// when none comes within `timeout`.  One question at a time: a signal sent
// while the last is unanswered is merged with it.
std::string AskAvrboardsPace(ChildProcess& avrboard, milliseconds timeout = kStartTimeout);
// Why the avrboard at `avrboard` cannot be run, or "" when it can.  A build
// without simavr has none, and its path is "".
std::string WhyNoAvrboard(const std::string& avrboard);

struct RunResult {
  int exit_code = -1;  // -1 when it did not exit normally in time
  std::string out;
  std::string err;
};

// Runs args[0] to completion with `environment` (NAME=VALUE) added; a child
// still running at the time-out is killed.  Throws when it cannot start.
RunResult RunProgram(const std::vector<std::string>& args,
                     const std::vector<std::string>& environment = {},
                     milliseconds timeout = kRunTimeout);

}  // namespace harness
