// boardsim's event loop: receives commands, runs them through the protocol
// core against the emulated board and sends the (possibly faulty) replies.
#pragma once

#include "boardsim_command_line.h"

namespace boardsim {

// Serves until SIGINT, SIGTERM or --hangup-after.  Returns the process exit
// status: 0 for those, 1 when setting up failed (with a message on stderr).
int RunSimulator(const Options& options);

}  // namespace boardsim
