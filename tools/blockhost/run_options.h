// The options of `blockhost run` and the footer of its help.
#pragma once

#include "command_line.h"

namespace CLI {
class App;
}

namespace blockhost {

// --lib, --project, --steps, --period-ms, --input and the trace's files,
// bound to *line; a number out of range is refused as the option's usage
// error.
void AddRunOptions(CLI::App* command, CommandLine* line);

}  // namespace blockhost
