// Load and unload hooks of the shared object.
#include "arduino_block_version.h"
#include "base/float_state.h"
#include "host/library.h"

namespace {

// The module's version, for whoever reads the file (blockhost info shows
// it), as ArduinoBlock.dll carries it in its version resource.  The texts of
// the exports stay as the host interface fixes them.
[[gnu::used]] const char kModuleVersion[] = "@(#)arduino-block library " ARDUINO_BLOCK_VERSION;

// The host's loader runs them in the host's floating-point state, as it runs
// the exports.
__attribute__((constructor)) void OnLoad() {
  arduino::HostFloatState host_state;
  arduino::LibraryStartup();
}
__attribute__((destructor)) void OnUnload() {
  arduino::HostFloatState host_state;
  arduino::LibraryShutdown();
}

}  // namespace
