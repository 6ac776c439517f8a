#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "serial_client.h"
#include "tool_api/serial_speed_posix.h"

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// Reads what `fd` has before the deadline; false at end of file or when the
// line hangs up.
bool ReadSome(int fd, Clock::time_point deadline, std::string* out) {
  pollfd watch{fd, POLLIN, 0};
  if (poll(&watch, 1, MillisecondsLeft(deadline)) <= 0) return true;
  char chunk[4096];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
  out->append(chunk, static_cast<size_t>(n));
  return true;
}

}  // namespace

SerialClient::SerialClient(const std::string& path, int baud)
    : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (fd_ < 0) return;
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  const speed_t speed = baud == 115200  ? B115200
                        : baud == 38400 ? B38400
                        : baud == 19200 ? B19200
                        : baud == 9600  ? B9600
                                        : B0;
  if (speed == B0) {
    // No speed the tests use: not valid rather than quietly another speed.
    close(fd_);
    fd_ = -1;
    return;
  }
  cfsetspeed(&settings, speed);
  tcsetattr(fd_, TCSANOW, &settings);
}

SerialClient::~SerialClient() {
  if (fd_ >= 0) close(fd_);
}

bool SerialClient::SetBaudRate(int32_t baud_rate) {
  const speed_t speed = arduino::SpeedConstant(baud_rate);
  termios settings{};
  if (speed == B0 || tcgetattr(fd_, &settings) != 0) return false;
  cfsetspeed(&settings, speed);
  return tcsetattr(fd_, TCSANOW, &settings) == 0;
}

void SerialClient::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EAGAIN) {
      // The line is full; a board that reads nothing for seconds is gone.
      pollfd watch{fd_, POLLOUT, 0};
      if (poll(&watch, 1, 3'000) == 1) continue;
      throw std::runtime_error("the serial line takes no more bytes");
    }
    if (wrote <= 0) {
      throw std::runtime_error(std::string("cannot write to the serial line: ") +
                               std::strerror(errno));
    }
    done += static_cast<size_t>(wrote);
  }
}

void SerialClient::WriteByte(char byte) {
  if (write(fd_, &byte, 1) != 1) Write(std::string(1, byte));
}

std::optional<char> SerialClient::ReadByte(milliseconds wait) {
  char byte = 0;
  pollfd watch{fd_, POLLIN, 0};
  const int ready = poll(&watch, 1, static_cast<int>(wait.count()));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return std::nullopt;
  if (ready < 0 || !(watch.revents & POLLIN)) throw std::runtime_error("the serial line has gone");
  const ssize_t n = read(fd_, &byte, 1);
  if (n == 1) return byte;
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
  throw std::runtime_error("the serial line has gone");
}

std::string SerialClient::ReadUntil(const std::string& terminator, milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  std::string out;
  while (out.find(terminator) == std::string::npos && Clock::now() < deadline) {
    if (!ReadSome(fd_, deadline, &out)) break;
  }
  return out;
}

std::string SerialClient::ReadFor(milliseconds duration, bool* closed) {
  const Clock::time_point deadline = Clock::now() + duration;
  std::string out;
  bool open = true;
  while (open && Clock::now() < deadline) open = ReadSome(fd_, deadline, &out);
  if (closed != nullptr) *closed = !open;
  return out;
}

}  // namespace harness
