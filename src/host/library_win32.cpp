// Load and unload hooks of the DLL.
#include <windows.h>
#include <winsock.h>

#include <string>

#include "arduino_block.h"
#include "base/float_state.h"
#include "host/library.h"

namespace {

// The library holds one socket-layer reference for its whole life, so the
// layer stays up between blocks even when the host itself never starts it.
void Attach() {
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) throw ESocketError("WSAStartup");
  arduino::LibraryStartup();
}

void Detach() {
  // The COM port goes before the sockets, as it came after them.
  arduino::LibraryShutdown();
  WSACleanup();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  // No exception may leave DllMain: the loader is no C++ code.  A failed
  // attach makes LoadLibrary fail, and the reason goes to the debugger.
  // The host's loader calls it in the host's floating-point state, as it
  // calls the exports.
  arduino::HostFloatState host_state;
  try {
    if (reason == DLL_PROCESS_ATTACH) Attach();
    if (reason == DLL_PROCESS_DETACH) Detach();
    return TRUE;
  } catch (const Exception& e) {
    OutputDebugStringA((std::string(e.ClassName()) + ": " + e.what()).c_str());
  } catch (const std::exception& e) {
    OutputDebugStringA(e.what());
  }
  return FALSE;
}
