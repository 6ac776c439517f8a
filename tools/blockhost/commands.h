// The sub-commands.  Each returns the exit status and reports its results on
// stdout; errors leave as UsageError, InputError or LibraryError.
#pragma once

#include "command_line.h"

namespace blockhost {

int InfoCommand(const CommandLine& line);
int ShowCommand(const CommandLine& line);
int SetCommand(const CommandLine& line);
// Opens the library's settings dialog on the project's block and saves the
// project if the user pressed OK.  Cancel, the close box or no display write
// nothing, and exit with one of these.
constexpr int kExitCancelled = 10;
constexpr int kExitNoDisplay = 11;
int ConfigureCommand(const CommandLine& line);
// A run whose steps took as long as a board that answers nothing makes them;
// a stopped run exits kExitInterrupted or kExitTerminated (stop_request.h).
constexpr int kExitBoardSilent = 9;
int RunCommand(const CommandLine& line);
// One step that reads A0: exit 0 with the value, kExitNoAnswer or
// kExitBadAnswer (check_outcome.h) with what to look at.
int CheckCommand(const CommandLine& line);
// The serial ports by COM number; needs no library.
int PortsCommand(const CommandLine& line);
// Shows or sets the address of a board with the Ethernet image over its USB
// port; needs no library.  Exit 0, kExitNoAnswer (check_outcome.h) or one of
// these.
constexpr int kExitPortUnusable = 5;      // no such port, or it cannot be opened
constexpr int kExitBoardRefused = 6;      // the board refused the address or MAC
constexpr int kExitNotEthernetImage = 7;  // the board answered, but not as the Ethernet image
int BoardAddressCommand(const CommandLine& line);

// --lib, or the platform's block library beside the blockhost executable.
std::string LibraryPath(const CommandLine& line);

}  // namespace blockhost
