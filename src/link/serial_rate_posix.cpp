// termios2 is Linux's: the C library's termios calls know only the rate
// constants, so the ioctls are called directly.
#include "link/serial_rate_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace arduino {

bool SetLineRate(int fd, uint32_t baud_rate) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  // BOTHER takes the rate from the speed fields instead of a constant; no
  // input speed of its own makes the input follow the output.
  settings.c_cflag &= ~(CBAUD | CIBAUD);
  settings.c_cflag |= BOTHER;
  settings.c_ispeed = baud_rate;
  settings.c_ospeed = baud_rate;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

std::optional<uint32_t> LineRate(int fd) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return std::nullopt;
  return settings.c_ospeed;
}

}  // namespace arduino
