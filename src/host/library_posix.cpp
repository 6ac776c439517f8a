// Load and unload hooks of the shared object.
#include "arduino_block_version.h"
#include "host/library.h"

namespace {

// The module's version, for whoever reads the file (blockhost info shows
// it), as ArduinoBlock.dll carries it in its version resource.  The texts of
// the exports stay as the host interface fixes them.
[[gnu::used]] const char kModuleVersion[] = "@(#)arduino-block library " ARDUINO_BLOCK_VERSION;

__attribute__((constructor)) void OnLoad() { arduino::LibraryStartup(); }
__attribute__((destructor)) void OnUnload() { arduino::LibraryShutdown(); }

}  // namespace
