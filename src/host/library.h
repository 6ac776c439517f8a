// What happens when the host loads and unloads the library.
#pragma once

namespace arduino {

// Run once when the library is loaded, after the socket layer has started.
void LibraryStartup();
// Run once when the library is unloaded.
void LibraryShutdown();

}  // namespace arduino
