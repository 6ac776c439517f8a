// The board's port on the Win32 communications API.  DTR is enabled, as a
// terminal enables it: on an Uno that restarts the sketch, whose first line
// then says which image it runs.
#include <windows.h>

#include <cstring>

#include "board_port.h"
#include "system_error_win32.h"

namespace blockhost {
namespace {

HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

std::optional<BoardPort::Handle> BoardPort::PlatformOpen(const std::string& device,
                                                         int32_t baud_rate, std::string* error) {
  // Share mode 0: the open fails while a block or a terminal holds the port.
  HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *error = SystemErrorText(GetLastError());
    return std::nullopt;
  }
  DCB settings;
  std::memset(&settings, 0, sizeof settings);
  settings.DCBlength = sizeof settings;
  if (!GetCommState(port, &settings)) {
    *error = "not a serial port (" + SystemErrorText(GetLastError()) + ")";
    CloseHandle(port);
    return std::nullopt;
  }
  settings.BaudRate = static_cast<DWORD>(baud_rate);
  settings.fBinary = TRUE;
  settings.fParity = FALSE;
  settings.fOutxCtsFlow = FALSE;
  settings.fOutxDsrFlow = FALSE;
  settings.fDtrControl = DTR_CONTROL_ENABLE;
  settings.fRtsControl = RTS_CONTROL_ENABLE;
  settings.fOutX = FALSE;
  settings.fInX = FALSE;
  settings.ByteSize = 8;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  if (!SetCommState(port, &settings)) {
    *error = "cannot be set to " + std::to_string(baud_rate) + " baud (" +
             SystemErrorText(GetLastError()) + ")";
    CloseHandle(port);
    return std::nullopt;
  }
  // Reads wait for each call's own time-out (set per read below); a write
  // to a board that stopped reading gives up after a second.
  COMMTIMEOUTS timeouts;
  std::memset(&timeouts, 0, sizeof timeouts);
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(port, &timeouts);
  return reinterpret_cast<Handle>(port);
}

void BoardPort::PlatformClose(Handle handle) { CloseHandle(HandleOf(handle)); }

bool BoardPort::PlatformWrite(Handle handle, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(HandleOf(handle), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

int BoardPort::PlatformRead(Handle handle, char* buffer, int size, milliseconds wait) {
  // MAXDWORD interval with a total constant: return at once with what has
  // come, or wait up to the constant for the first byte.
  COMMTIMEOUTS timeouts;
  std::memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(wait.count() > 0 ? wait.count() : 1);
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(HandleOf(handle), &timeouts);
  DWORD count = 0;
  if (!ReadFile(HandleOf(handle), buffer, static_cast<DWORD>(size), &count, nullptr)) return -1;
  return static_cast<int>(count);
}

}  // namespace blockhost
