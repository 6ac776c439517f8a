// The serial link on termios.  A COM name becomes a device path through
// ComPortDevice (port_names_posix.cpp); exclusive use, which
// Windows gets from share mode 0, comes from flock plus TIOCEXCL here, and
// a port that another program has open or locked by a UUCP lock file
// (port_holders.h) fails to open as a held port does on Windows.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "base/convert.h"
#include "link/port_holders.h"
#include "link/port_names.h"
#include "link/serial.h"
#include "link/serial_latency_posix.h"
#include "link/serial_rate_posix.h"
#include "link/serial_speed_posix.h"

namespace arduino {
namespace {

// "COM5" and "\\.\COM12" name ports 5 and 12.
std::optional<int32_t> PortNumberOf(const std::string& device_name) {
  size_t at = device_name.rfind("COM");
  if (at == std::string::npos) return std::nullopt;
  return TryStrToInt(std::string_view(device_name).substr(at + 3));
}

// The port's device, by the one mapping the port listing uses too.
std::string DevicePathOf(const std::string& device_name) {
  std::optional<int32_t> port = PortNumberOf(device_name);
  return port ? ComPortDevice(*port) : std::string();
}

}  // namespace

PortOpenResult PlatformOpenPort(const std::string& device_name) {
  std::string path = DevicePathOf(device_name);
  if (path.empty()) return {false, 0};
  // Programs that take neither flock nor TIOCEXCL (a serial monitor, screen,
  // cat) can only be found by looking; Windows would refuse the open.
  if (FindPortHolder(path)) return {false, 0};
  // Non-blocking: the open must not wait for a carrier, and a read of a
  // byte that is already waiting then costs one call instead of a poll and
  // a read.  The waits themselves are bounded by poll below.
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {false, 0};
  // flock keeps out every cooperating opener, root included; TIOCEXCL keeps
  // out everybody else who is not root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !isatty(fd)) {
    close(fd);
    return {false, 0};
  }
  (void)ioctl(fd, TIOCEXCL);
  return {true, fd};
}

void PlatformConfigurePort(PortHandle port, int32_t baud_rate) {
  int fd = static_cast<int>(port);
  termios settings{};
  if (tcgetattr(fd, &settings) == 0) {
    // Raw 8N1: every byte passes unchanged, no flow control of any kind.
    cfmakeraw(&settings);
    settings.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS | HUPCL);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    // A rate with a constant of its own is set the classic way, which every
    // reader of the line's settings understands.
    if (speed_t speed = SpeedConstant(baud_rate); speed != B0) cfsetspeed(&settings, speed);
    (void)tcsetattr(fd, TCSANOW, &settings);
  }
  // Any other rate goes to the driver as the number itself, as the block's
  // BaudRate does on Windows; a driver that cannot make it refuses it and
  // the port keeps its speed, unnoticed as there.  Zero and negative numbers
  // are no rates, which Windows drivers refuse too.
  if (baud_rate > 0 && SpeedConstant(baud_rate) == B0) {
    (void)SetLineRate(fd, static_cast<uint32_t>(baud_rate));
  }
  // DTR and RTS held inactive.  Pseudo-terminals have no modem lines and
  // refuse this, which is harmless.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIC, &lines);
  // Each reply waits in a USB bridge's buffer until the driver hands it on;
  // low latency makes that at once where the driver has the setting.  A
  // refusal goes unnoticed, as a refused speed does.
  (void)RequestLowLatency(fd);
}

void PlatformClosePort(PortHandle port) {
  int fd = static_cast<int>(port);
  // The exclusive flag can outlive our descriptor on some drivers (a pty
  // slave keeps its tty while the master lives); clear it for the next opener.
  (void)ioctl(fd, TIOCNXCL);
  close(fd);
}

WriteOutcome PlatformWriteByte(PortHandle port, uint8_t byte) {
  // The byte goes straight to the driver, which in use always has room: it
  // takes bytes into a buffer of some kilobytes.  A full buffer means the
  // board has stopped reading, so the wait for room is bounded; otherwise a
  // hung board would block the host in this write for good.
  int fd = static_cast<int>(port);
  bool waited = false;
  while (true) {
    ssize_t n = write(fd, &byte, 1);
    if (n == 1) return WriteOutcome::kWritten;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (waited) return WriteOutcome::kNoRoom;
      waited = true;
      pollfd watch{fd, POLLOUT, 0};
      if (poll(&watch, 1, static_cast<int>(kSerialWriteTimeoutMs)) > 0 &&
          (watch.revents & POLLOUT)) {
        continue;
      }
      return WriteOutcome::kNoRoom;
    }
    return WriteOutcome::kFailed;  // the byte is not sent again
  }
}

ReadOutcome PlatformReadByte(PortHandle port, uint8_t& byte) {
  int fd = static_cast<int>(port);
  ssize_t n = read(fd, &byte, 1);
  if (n == 1) return ReadOutcome::kByte;
  // Raw mode without a minimum count makes an empty read return 0 rather
  // than EAGAIN; a hang-up also reads 0, and poll tells the two apart.
  if (n < 0 && errno != EAGAIN && errno != EINTR) return ReadOutcome::kFailed;
  pollfd watch{fd, POLLIN, 0};
  int ready = poll(&watch, 1, static_cast<int>(kSerialReadTimeoutMs));
  if (ready == 0) return ReadOutcome::kTimeout;
  if (ready < 0) return errno == EINTR ? ReadOutcome::kTimeout : ReadOutcome::kFailed;
  // A terminal whose other end has hung up (a board unplugged, an emulator
  // killed) reports POLLIN together with POLLHUP and then reads nothing, at
  // once and for ever.  Taken as a time-out, that would make the reply wait
  // spin without pause; as a failure, the wait sleeps out the read's time.
  if (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) return ReadOutcome::kFailed;
  if (!(watch.revents & POLLIN)) return ReadOutcome::kTimeout;
  n = read(fd, &byte, 1);
  if (n == 1) return ReadOutcome::kByte;
  // Readable yet nothing to read is the end of the file: nobody is there.
  if (n == 0) return ReadOutcome::kFailed;
  return errno == EAGAIN || errno == EINTR ? ReadOutcome::kTimeout : ReadOutcome::kFailed;
}

void PlatformPause(uint32_t ms) {
  timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace arduino
