#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void ExecOrDie(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Waits for the child until `deadline`, then kills it.
int WaitUntil(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (true) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitCodeOf(status);
    if (done < 0) return -1;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(2000);
  }
}

}  // namespace

std::optional<BackgroundProcess> BackgroundProcess::Start(const std::vector<std::string>& args,
                                                          std::string* error) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    *error = "pipe failed";
    return std::nullopt;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDERR_FILENO);
    ExecOrDie(args);
  }
  close(pipe_fds[1]);
  BackgroundProcess process(pid, pipe_fds[0]);
  const Clock::time_point deadline = Clock::now() + kStartTimeout;
  std::string text;
  while (text.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd watch{process.stderr_fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&watch, 1, static_cast<int>(left.count())) != 1) {
      *error = "no start-up line within the time-out; said: " + text;
      return std::nullopt;
    }
    char chunk[512];
    ssize_t n = read(process.stderr_fd_, chunk, sizeof chunk);
    if (n <= 0) {
      *error = "exited before starting; said: " + text;
      return std::nullopt;
    }
    text.append(chunk, static_cast<size_t>(n));
  }
  process.first_line_ = text.substr(0, text.find('\n'));
  return process;
}

BackgroundProcess::BackgroundProcess(BackgroundProcess&& other) noexcept
    : pid_(other.pid_), stderr_fd_(other.stderr_fd_), first_line_(std::move(other.first_line_)) {
  other.pid_ = -1;
  other.stderr_fd_ = -1;
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (WaitUntil(pid_, Clock::now() + kStartTimeout) < 0) kill(pid_, SIGKILL);
  }
  if (stderr_fd_ >= 0) close(stderr_fd_);
}

ProgramResult RunProgram(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (const std::string& variable : environment) putenv(const_cast<char*>(variable.c_str()));
    ExecOrDie(args);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramResult result;
  const Clock::time_point deadline = Clock::now() + kRunTimeout;
  pollfd watch[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  while (open_pipes > 0 && Clock::now() < deadline) {
    if (poll(watch, 2, 100) <= 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (watch[k].fd < 0 || !(watch[k].revents & (POLLIN | POLLHUP))) continue;
      char chunk[4096];
      ssize_t n = read(watch[k].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[k]->append(chunk, static_cast<size_t>(n));
      } else {
        close(watch[k].fd);
        watch[k].fd = -1;
        --open_pipes;
      }
    }
  }
  for (pollfd& w : watch) {
    if (w.fd >= 0) close(w.fd);
  }
  result.exit_code = WaitUntil(pid, deadline);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace e2e
