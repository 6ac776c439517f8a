#include "link/serial_latency_posix.h"

#include <sys/ioctl.h>

namespace arduino {

const SerialInfoCalls kDriverSerialInfo = {
    [](int fd, serial_struct* info) { return ioctl(fd, TIOCGSERIAL, info); },
    [](int fd, const serial_struct* info) { return ioctl(fd, TIOCSSERIAL, info); },
};

bool RequestLowLatency(int fd, const SerialInfoCalls& calls) {
  serial_struct info{};
  if (calls.get(fd, &info) != 0) return false;
  if ((info.flags & ASYNC_LOW_LATENCY) != 0) return true;
  // Everything else goes back as the driver gave it.
  info.flags |= ASYNC_LOW_LATENCY;
  return calls.set(fd, &info) == 0;
}

}  // namespace arduino
