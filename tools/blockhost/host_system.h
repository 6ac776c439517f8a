// What blockhost asks of the system besides files and libraries.
#pragma once

#include <string>

namespace blockhost {

// The directory that holds the running blockhost executable.
std::string ExecutableDirectory();

// Whether standard error is a terminal, where a progress line makes sense.
bool StderrIsTerminal();

}  // namespace blockhost
