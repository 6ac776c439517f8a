#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

#include "child_process.h"

extern char** environ;

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

// How long a child has to exit on SIGTERM before it is killed.
constexpr milliseconds kStopGrace{5'000};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// This process's environment with `overrides` (NAME=VALUE) put over it.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> all;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable(*entry);
    const std::string name = variable.substr(0, variable.find('=') + 1);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                      [&](const std::string& o) { return o.starts_with(name); });
    if (!replaced) all.push_back(variable);
  }
  all.insert(all.end(), overrides.begin(), overrides.end());
  return all;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

struct Pipe {
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    read_end = fds[0];
    write_end = fds[1];
  }
  ~Pipe() {
    if (read_end >= 0) close(read_end);
    if (write_end >= 0) close(write_end);
  }
  int TakeReadEnd() { return std::exchange(read_end, -1); }
  void CloseWriteEnd() { close(std::exchange(write_end, -1)); }

  int read_end;
  int write_end;
};

// Starts args[0] with its stderr on `stderr_fd` and its stdout on
// `stdout_fd`, or on /dev/null when that is -1.  posix_spawn rather than
// fork, so that a test with threads of its own forks nothing but the child.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            int stdout_fd, int stderr_fd) {
  if (args.empty()) throw std::invalid_argument("no program to start");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, stderr_fd, STDERR_FILENO);
  std::vector<std::string> argv_strings = args;
  std::vector<std::string> envp_strings = EnvironmentWith(environment);
  std::vector<char*> argv = Pointers(argv_strings);
  std::vector<char*> envp = Pointers(envp_strings);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
  return pid;
}

// The child's exit status once it has exited before `deadline`; it is
// killed at the deadline, and the result is then -1.
int WaitUntil(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitCodeOf(status);
    if (done < 0) return -1;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(milliseconds(2));
  }
}

}  // namespace

ChildProcess ChildProcess::Start(const std::vector<std::string>& args,
                                 const StartOptions& options) {
  std::string why;
  std::optional<ChildProcess> child = TryStart(args, &why, options);
  if (!child) throw std::runtime_error((args.empty() ? "" : args[0]) + " did not start: " + why);
  return std::move(*child);
}

std::optional<ChildProcess> ChildProcess::TryStart(const std::vector<std::string>& args,
                                                   std::string* why, const StartOptions& options) {
  pid_t pid = -1;
  int stderr_fd = -1;
  try {
    Pipe errors;
    pid = Spawn(args, options.environment, -1, errors.write_end);
    errors.CloseWriteEnd();
    stderr_fd = errors.TakeReadEnd();
  } catch (const std::exception& error) {
    *why = error.what();
    return std::nullopt;
  }
  ChildProcess child(pid, stderr_fd);
  const Clock::time_point deadline = Clock::now() + options.timeout;
  size_t unread_line = 0;
  while (true) {
    for (size_t newline; (newline = child.stderr_.find('\n', unread_line)) != std::string::npos;) {
      const std::string line = child.stderr_.substr(unread_line, newline - unread_line);
      unread_line = newline + 1;
      if (line.find(options.ready_text) != std::string::npos) {
        child.ready_line_ = line;
        return std::optional<ChildProcess>(std::move(child));
      }
    }
    if (Clock::now() >= deadline) {
      *why = "no ready line within " + std::to_string(options.timeout.count()) +
             " ms; said: " + child.stderr_;
      return std::nullopt;
    }
    if (child.ReadStderr(milliseconds(MillisecondsLeft(deadline))) < 0) {
      const int status = child.WaitForExit(milliseconds(1'000));
      *why = "exited before it was ready (status " + std::to_string(status) +
             "); said: " + child.stderr_;
      return std::nullopt;
    }
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stderr_fd_(std::exchange(other.stderr_fd_, -1)),
      stderr_(std::move(other.stderr_)),
      ready_line_(std::move(other.ready_line_)) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitForExit(kStopGrace);
  }
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stderr_fd_ >= 0) close(stderr_fd_);
}

uint16_t ChildProcess::udp_port() const {
  const size_t colon = ready_line_.rfind(':');
  const std::string digits = colon == std::string::npos ? "" : ready_line_.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos || std::stoul(digits) > 65535) {
    throw std::runtime_error("no port at the end of the ready line '" + ready_line_ + "'");
  }
  return static_cast<uint16_t>(std::stoul(digits));
}

const std::string& ChildProcess::stderr_text() {
  while (ReadStderr(milliseconds(0)) > 0) {
  }
  return stderr_;
}

bool ChildProcess::WaitForStderr(const std::string& text, milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (stderr_.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || ReadStderr(std::min(left, milliseconds(100))) < 0) {
      return stderr_.find(text) != std::string::npos;
    }
  }
  return true;
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text, size_t from,
                                                     milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  while (true) {
    const size_t at = stderr_.find(text, from);
    const size_t end = at == std::string::npos ? at : stderr_.find('\n', at);
    if (end != std::string::npos) {
      const size_t start = stderr_.rfind('\n', at);
      const size_t begin = start == std::string::npos ? 0 : start + 1;
      return stderr_.substr(begin, end - begin);
    }
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
    if (left.count() <= 0 || ReadStderr(std::min(left, milliseconds(100))) < 0) return std::nullopt;
  }
}

int ChildProcess::Stop(int signal_number, milliseconds timeout) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal_number);
  return WaitForExit(timeout);
}

int ChildProcess::WaitForExit(milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (true) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      // What it wrote last; a grandchild that keeps the pipe open costs at
      // most the short wait.
      while (ReadStderr(milliseconds(20)) > 0) {
      }
      return ExitCodeOf(status);
    }
    if (Clock::now() >= deadline) return -1;
    // Reading while waiting also keeps a talkative child from filling the
    // pipe and blocking before it can exit.
    if (ReadStderr(milliseconds(10)) < 0) std::this_thread::sleep_for(milliseconds(5));
  }
}

int ChildProcess::ReadStderr(milliseconds wait) {
  if (stderr_fd_ < 0) return -1;
  pollfd watch{stderr_fd_, POLLIN, 0};
  const int ready = poll(&watch, 1, static_cast<int>(wait.count()));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
  char chunk[4096];
  const ssize_t n = ready < 0 ? -1 : read(stderr_fd_, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return 0;
  if (n <= 0) {
    close(std::exchange(stderr_fd_, -1));
    return -1;
  }
  stderr_.append(chunk, static_cast<size_t>(n));
  return static_cast<int>(n);
}

ChildProcess StartBoardsim(const std::string& boardsim, const std::vector<std::string>& args) {
  std::string why;
  std::optional<ChildProcess> board = TryStartBoardsim(boardsim, args, &why);
  if (!board) throw std::runtime_error("boardsim did not start: " + why);
  return std::move(*board);
}

std::optional<ChildProcess> TryStartBoardsim(const std::string& boardsim,
                                             const std::vector<std::string>& args,
                                             std::string* why) {
  std::vector<std::string> command{boardsim};
  command.insert(command.end(), args.begin(), args.end());
  const bool serial = std::find(args.begin(), args.end(), "--pty") != args.end();
  StartOptions options;
  options.ready_text = serial ? "boardsim: serial on " : "boardsim: listening on udp ";
  return ChildProcess::TryStart(command, why, options);
}

ChildProcess StartAvrboard(const std::string& avrboard, const std::vector<std::string>& args,
                           milliseconds timeout) {
  std::string why;
  std::optional<ChildProcess> board = TryStartAvrboard(avrboard, args, &why, timeout);
  if (!board) throw std::runtime_error("avrboard did not start: " + why);
  return std::move(*board);
}

std::optional<ChildProcess> TryStartAvrboard(const std::string& avrboard,
                                             const std::vector<std::string>& args, std::string* why,
                                             milliseconds timeout) {
  std::vector<std::string> command{avrboard};
  command.insert(command.end(), args.begin(), args.end());
  StartOptions options;
  // Said once the image is loaded and the terminal's link is there to open.
  options.ready_text = "avrboard: ready";
  options.timeout = timeout;
  return ChildProcess::TryStart(command, why, options);
}

std::string AskAvrboardsPace(ChildProcess& avrboard, milliseconds timeout) {
  // Only what is said after the question answers it.
  const size_t asked_at = avrboard.stderr_text().size();
  if (avrboard.pid() <= 0 || kill(avrboard.pid(), SIGUSR1) != 0) return "";
  return avrboard.WaitForLine("avrboard: pace: ", asked_at, timeout).value_or("");
}

std::string WhyNoAvrboard(const std::string& avrboard) {
  if (avrboard.empty() || access(avrboard.c_str(), X_OK) != 0) {
    return "avrboard was not built (needs libsimavr-dev and libelf-dev)";
  }
  return "";
}

RunResult RunProgram(const std::vector<std::string>& args,
                     const std::vector<std::string>& environment, milliseconds timeout) {
  Pipe out;
  Pipe err;
  const pid_t pid = Spawn(args, environment, out.write_end, err.write_end);
  out.CloseWriteEnd();
  err.CloseWriteEnd();
  RunResult result;
  const Clock::time_point deadline = Clock::now() + timeout;
  pollfd watch[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  while (open_pipes > 0 && Clock::now() < deadline) {
    if (poll(watch, 2, 100) <= 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (watch[k].fd < 0 || !(watch[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char chunk[4096];
      const ssize_t n = read(watch[k].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[k]->append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        watch[k].fd = -1;
        --open_pipes;
      }
    }
  }
  result.exit_code = WaitUntil(pid, deadline);
  return result;
}

}  // namespace harness
