#include "host/library.h"

#include "link/serial.h"

namespace arduino {

void LibraryStartup() {
  // Every number the library formats or reads goes through base/convert,
  // which never consults the C locale, so the decimal separator is "." for
  // the library's whole life whatever the host or the system does later.
  ResetSerialHandle();
}

void LibraryShutdown() {
  // Releasing the COM port here lets other programs open it again once the
  // host has unloaded us, instead of only when the host process exits.
  CloseSerialLink();
}

}  // namespace arduino
