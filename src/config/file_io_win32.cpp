#include <windows.h>

#include "config/file_io.h"

namespace arduino {

int32_t FileWrite(uint32_t handle, const char* data, uint32_t size) {
  UINT written = _lwrite(static_cast<HFILE>(handle), data, size);
  return written == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<int32_t>(written);
}

int32_t FileRead(uint32_t handle, char* data, uint32_t size) {
  UINT read = _lread(static_cast<HFILE>(handle), data, size);
  return read == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<int32_t>(read);
}

}  // namespace arduino
