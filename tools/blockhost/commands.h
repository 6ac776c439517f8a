// blockhost's sub-commands, registered in one table.  A command lives in a
// file of its own (*_command.cpp) that defines its entry: its name, its help,
// the options it takes and the function that runs it.  Adding a command is
// that file, its declaration below and its line in kCommands; the help lists
// the commands in the table's order.
#pragma once

#include <string>

#include "command_line.h"
#include "exit_codes.h"

namespace CLI {
class App;
}

namespace blockhost {

struct Command {
  const char* name;
  // "usage: blockhost NAME ...\n", one or more lines, each ending in '\n'.
  const char* usage;
  // What the command does, beside its usage in the list of `blockhost --help`.
  const char* description;
  // Adds the command's options, bound to *line, and its help's footer.
  void (*add_options)(CLI::App* command, CommandLine* line);
  // Returns the exit status (exit_codes.h) and reports its results on stdout;
  // errors leave as UsageError, InputError or LibraryError (errors.h).
  int (*run)(const CommandLine& line);
};

extern const Command kInfoCommand;
extern const Command kShowCommand;
extern const Command kSetCommand;
extern const Command kConfigureCommand;
extern const Command kRunCommand;
extern const Command kCheckCommand;
extern const Command kPortsCommand;
extern const Command kBoardAddressCommand;
extern const Command kFlashCommand;
extern const Command kLatencyCommand;

inline constexpr const Command* kCommands[] = {
    &kInfoCommand,  &kShowCommand,  &kSetCommand,          &kConfigureCommand, &kRunCommand,
    &kCheckCommand, &kPortsCommand, &kBoardAddressCommand, &kFlashCommand,     &kLatencyCommand,
};

// The entry of `name`, or nothing for a name no command has.
const Command* FindCommand(const std::string& name);

// Opens the library's settings dialog on the project's block and saves the
// project if the settings changed, which only OK does.  Cancel, the close
// box, an OK that changed nothing, or no display write nothing, and exit
// kExitCancelled or kExitNoDisplay.
int ConfigureCommand(const CommandLine& line);

// `check` and `board-address` as their entries run them, for `flash` to run
// after it wrote the image: the same messages and exit statuses.
int CheckCommand(const CommandLine& line);
int BoardAddressCommand(const CommandLine& line);

// --lib, or the platform's block library beside the blockhost executable.
std::string LibraryPath(const CommandLine& line);

}  // namespace blockhost
