#include "boardsim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace boardsim_test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is available on fd until the deadline or end of file.  Returns
// false at end of file.
bool ReadSome(int fd, Clock::time_point deadline, std::string* out) {
  pollfd watched{fd, POLLIN, 0};
  if (poll(&watched, 1, RemainingMs(deadline)) <= 0) return true;
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof(buffer));
  if (got <= 0) return got < 0 && errno == EAGAIN;
  out->append(buffer, static_cast<size_t>(got));
  return true;
}

pid_t Spawn(const std::vector<std::string>& args, int stdout_fd, int stderr_fd) {
  std::vector<char*> argv;
  std::string program = BOARDSIM_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (auto& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(stdout_fd, STDOUT_FILENO);
    dup2(stderr_fd, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::optional<BoardsimProcess> BoardsimProcess::Start(const std::vector<std::string>& args,
                                                      std::string* stderr_text) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return std::nullopt;
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = Spawn(args, null_fd, pipe_fds[1]);
  close(null_fd);
  close(pipe_fds[1]);
  BoardsimProcess process(pid, pipe_fds[0]);

  const auto deadline = Clock::now() + kStartTimeout;
  std::string text;
  while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
    if (!ReadSome(process.stderr_fd_, deadline, &text)) break;
  }
  const size_t newline = text.find('\n');
  if (newline == std::string::npos || text.find("boardsim: ") != 0 ||
      (text.find("listening on") == std::string::npos &&
       text.find("serial on") == std::string::npos)) {
    *stderr_text = text;
    return std::nullopt;
  }
  process.startup_line_ = text.substr(0, newline);
  process.stderr_rest_ = text.substr(newline + 1);
  return process;
}

BoardsimProcess::BoardsimProcess(BoardsimProcess&& other) noexcept
    : pid_(other.pid_),
      stderr_fd_(other.stderr_fd_),
      startup_line_(std::move(other.startup_line_)),
      stderr_rest_(std::move(other.stderr_rest_)) {
  other.pid_ = -1;
  other.stderr_fd_ = -1;
}

BoardsimProcess::~BoardsimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stderr_fd_ >= 0) close(stderr_fd_);
}

uint16_t BoardsimProcess::udp_port() const {
  const size_t colon = startup_line_.rfind(':');
  return static_cast<uint16_t>(std::atoi(startup_line_.c_str() + colon + 1));
}

int BoardsimProcess::Stop(int signal_number) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal_number);
  return WaitForExit(kStartTimeout);
}

int BoardsimProcess::WaitForExit(milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + timeout;
  while (true) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return ExitStatus(status);
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

std::string BoardsimProcess::DrainStderr() {
  const auto deadline = Clock::now() + milliseconds(200);
  while (Clock::now() < deadline && ReadSome(stderr_fd_, deadline, &stderr_rest_)) {
  }
  return stderr_rest_;
}

RunResult RunBoardsim(const std::vector<std::string>& args) {
  int out_pipe[2];
  int err_pipe[2];
  RunResult result;
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  const pid_t pid = Spawn(args, out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Short outputs only (usage and one error line), so reading the pipes one
  // after the other cannot deadlock.
  const auto deadline = Clock::now() + kStartTimeout;
  while (Clock::now() < deadline && ReadSome(out_pipe[0], deadline, &result.stdout_text)) {
  }
  while (Clock::now() < deadline && ReadSome(err_pipe[0], deadline, &result.stderr_text)) {
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (Clock::now() >= deadline) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  result.exit_status = ExitStatus(status);
  return result;
}

UdpClient::UdpClient() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

UdpClient::~UdpClient() { close(fd_); }

uint16_t UdpClient::port() const {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

void UdpClient::Send(const std::string& datagram, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
         sizeof(address));
}

std::optional<std::string> UdpClient::Receive(milliseconds timeout) {
  pollfd watched{fd_, POLLIN, 0};
  if (poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  char buffer[65536];
  const ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
  if (got < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(got));
}

SerialClient::SerialClient(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (fd_ < 0) return;
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
}

SerialClient::~SerialClient() {
  if (fd_ >= 0) close(fd_);
}

void SerialClient::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

std::string SerialClient::ReadUntil(const std::string& terminator, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string out;
  while (out.find(terminator) == std::string::npos && Clock::now() < deadline) {
    if (!ReadSome(fd_, deadline, &out)) break;
  }
  return out;
}

std::string SerialClient::ReadFor(milliseconds duration, bool* closed) {
  const auto deadline = Clock::now() + duration;
  std::string out;
  bool open = true;
  while (open && Clock::now() < deadline) open = ReadSome(fd_, deadline, &out);
  if (closed != nullptr) *closed = !open;
  return out;
}

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "boardsim_test.XXXXXX").string();
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

}  // namespace boardsim_test
