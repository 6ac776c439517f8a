// The sub-commands.  Each returns the exit status and reports its results on
// stdout; errors leave as UsageError, InputError or LibraryError.
#pragma once

#include "command_line.h"

namespace blockhost {

int InfoCommand(const CommandLine& line);
int ShowCommand(const CommandLine& line);
int SetCommand(const CommandLine& line);
// Opens the library's settings dialog on the project's block, then saves.
int ConfigureCommand(const CommandLine& line);
int RunCommand(const CommandLine& line);

// --lib, or the platform's block library beside the blockhost executable.
std::string LibraryPath(const CommandLine& line);

}  // namespace blockhost
