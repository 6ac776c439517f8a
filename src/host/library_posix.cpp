// Load and unload hooks of the shared object.
#include "host/library.h"

namespace {

__attribute__((constructor)) void OnLoad() { arduino::LibraryStartup(); }
__attribute__((destructor)) void OnUnload() { arduino::LibraryShutdown(); }

}  // namespace
