// The running blockhost process and what it finds around it: its folder,
// the library beside it, its standard error, and its environment.
#pragma once

#include <optional>
#include <string>

namespace blockhost {

// The directory that holds the running blockhost executable.
std::string ExecutableDirectory();

// The block library blockhost loads when --lib is not given: the platform's
// build of the library, beside the executable.
std::string DefaultLibraryPath();

// The version a block library's file carries: the FileVersion of a DLL's
// version resource, the version mark of arduino_block.so.  Empty when the
// file carries none or cannot be read.
std::string LibraryFileVersion(const std::string& path);

// Whether standard error is a terminal, where a progress line makes sense.
bool StderrIsTerminal();

// One variable of the process's own environment.
std::optional<std::string> ProcessVariable(const std::string& name);

// Whether a window could be shown: on Linux, whether DISPLAY or
// WAYLAND_DISPLAY names a display; on Windows always.
bool HasDisplay();

}  // namespace blockhost
