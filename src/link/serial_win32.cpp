// The serial link on the Win32 communications API.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "link/serial.h"

namespace arduino {
namespace {

HANDLE HandleOf(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

}  // namespace

PortOpenResult PlatformOpenPort(const std::string& device_name) {
  // Share mode 0 makes the open exclusive: a port some other program (or
  // another of our runs) holds fails here, which is how the probe tells a
  // free port from a busy one.  No overlapped I/O: every read and write
  // waits, bounded by the time-outs set below.
  HANDLE port = CreateFileA(device_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return {false, 0};
  return {true, reinterpret_cast<PortHandle>(port)};
}

void PlatformConfigurePort(PortHandle port, int32_t baud_rate) {
  DCB settings;
  std::memset(&settings, 0, sizeof settings);
  settings.DCBlength = sizeof settings;
  GetCommState(HandleOf(port), &settings);
  settings.BaudRate = static_cast<DWORD>(baud_rate);
  // The flag bits (fBinary up to fDummy2) share the 32-bit word right after
  // BaudRate.  Overwriting that whole word with fBinary alone clears every
  // other flag, including any the driver left set: no parity check, no
  // hardware or XON/XOFF flow control, DTR and RTS disabled, no abort on
  // error.
  const DWORD flags = 1;  // fBinary
  std::memcpy(reinterpret_cast<unsigned char*>(&settings) + offsetof(DCB, BaudRate) +
                  sizeof settings.BaudRate,
              &flags, sizeof flags);
  settings.ByteSize = 8;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  SetCommState(HandleOf(port), &settings);

  // The total read time-out makes a one-byte read return after at most
  // 10 ms, so the reply loop keeps pumping messages while it waits; the other
  // read time-outs stay as the driver has them.  Drivers commonly leave the
  // write time-outs at zero, which means none: a write to a board that has
  // stopped reading would then wait for room for good and hang the host.  So
  // each one-byte write gives up after kSerialWriteTimeoutMs, and
  // PlatformWriteByte tells that apart from a failed write.
  COMMTIMEOUTS timeouts;
  std::memset(&timeouts, 0, sizeof timeouts);
  GetCommTimeouts(HandleOf(port), &timeouts);
  timeouts.ReadTotalTimeoutConstant = kSerialReadTimeoutMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kSerialWriteTimeoutMs;
  SetCommTimeouts(HandleOf(port), &timeouts);
}

void PlatformClosePort(PortHandle port) { CloseHandle(HandleOf(port)); }

WriteOutcome PlatformWriteByte(PortHandle port, uint8_t byte) {
  // A write that runs into its time-out succeeds with nothing written: the
  // port had no room for the byte within kSerialWriteTimeoutMs.
  DWORD written = 0;
  if (!WriteFile(HandleOf(port), &byte, 1, &written, nullptr)) return WriteOutcome::kFailed;
  return written == 1 ? WriteOutcome::kWritten : WriteOutcome::kNoRoom;
}

ReadOutcome PlatformReadByte(PortHandle port, uint8_t& byte) {
  // One byte per read: the reply ends at its line feed, and anything after
  // it must stay in the driver for the next reply instead of being taken
  // into a buffer here.
  //
  // A read that brings nothing is a time-out only if it took its time.  A
  // port whose adapter has gone, or whose driver keeps time-outs that return
  // at once, answers every read with nothing immediately; reported as a
  // time-out, that would make the reply wait spin a core until its limit.
  // Reported as a failure, the wait sleeps out the read's time instead.
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  DWORD count = 0;
  if (!ReadFile(HandleOf(port), &byte, 1, &count, nullptr)) return ReadOutcome::kFailed;
  if (count == 1) return ReadOutcome::kByte;
  QueryPerformanceCounter(&after);
  const LONGLONG took_us = (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart;
  // A millisecond is far below any time-out the driver keeps, timer
  // granularity included, and far above what an immediate answer takes.
  return took_us < 1000 ? ReadOutcome::kFailed : ReadOutcome::kTimeout;
}

void PlatformPause(uint32_t ms) { Sleep(ms); }

}  // namespace arduino
