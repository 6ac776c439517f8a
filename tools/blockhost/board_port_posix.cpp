// The board's port on termios.  Unlike the block's link, the open leaves DTR
// raised, as every terminal does: on an Uno that edge restarts the sketch,
// whose first line then says which image it runs.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "board_port.h"
#include "tool_api/serial_speed_posix.h"

namespace blockhost {

std::optional<BoardPort::Handle> BoardPort::PlatformOpen(const std::string& device,
                                                         int32_t baud_rate, std::string* error) {
  const speed_t speed = arduino::SpeedConstant(baud_rate);
  if (speed == B0) {
    *error = std::to_string(baud_rate) + " baud is not a speed this port can be set to";
    return std::nullopt;
  }
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = strerror(errno);
    return std::nullopt;
  }
  // The block takes the same lock: a running block and this command must
  // not both talk to the board.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "another program has it open";
    close(fd);
    return std::nullopt;
  }
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    *error = std::string("not a serial port (") + strerror(errno) + ")";
    close(fd);
    return std::nullopt;
  }
  cfmakeraw(&settings);
  settings.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetspeed(&settings, speed);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) {
    *error = std::string("cannot be configured (") + strerror(errno) + ")";
    close(fd);
    return std::nullopt;
  }
  return fd;
}

void BoardPort::PlatformClose(Handle handle) { close(static_cast<int>(handle)); }

bool BoardPort::PlatformWrite(Handle handle, const std::string& bytes) {
  const int fd = static_cast<int>(handle);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A line of setup fits the driver's buffer many times over; a port with
    // no room for it within a second has a board that stopped reading.
    pollfd watch{fd, POLLOUT, 0};
    if (n < 0 && errno == EAGAIN && poll(&watch, 1, 1000) == 1) continue;
    return false;
  }
  return true;
}

int BoardPort::PlatformRead(Handle handle, char* buffer, int size, milliseconds wait) {
  const int fd = static_cast<int>(handle);
  pollfd watch{fd, POLLIN, 0};
  const int ready = poll(&watch, 1, static_cast<int>(wait.count()));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
  if (ready < 0 || !(watch.revents & POLLIN)) return -1;  // hung up or failed
  const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
  if (n > 0) return static_cast<int>(n);
  return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

}  // namespace blockhost
