#include <errno.h>
#include <unistd.h>

#include "config/file_io.h"

namespace arduino {

int32_t FileWrite(uint32_t handle, const char* data, uint32_t size) {
  uint32_t written = 0;
  while (written < size) {
    ssize_t n = write(static_cast<int>(handle), data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return written > 0 ? static_cast<int32_t>(written) : -1;
    written += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(written);
}

int32_t FileRead(uint32_t handle, char* data, uint32_t size) {
  while (true) {
    ssize_t n = read(static_cast<int>(handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int32_t>(n);
  }
}

}  // namespace arduino
