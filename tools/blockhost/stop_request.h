// Ctrl-C and SIGTERM during a run.  The first one asks the run to stop once
// the step under way is done, so that what it did so far is kept; a second
// one ends blockhost at once, as if nothing caught it.
#pragma once

#include "exit_codes.h"

namespace blockhost {

// Catches the requests until ReleaseStopRequests.  The note that a request
// was heard starts on a line of its own when `break_line`, below a progress
// line.
void CatchStopRequests(bool break_line);
void ReleaseStopRequests();

// 0 while nobody asked the run to stop; then the exit status for the request.
int StopRequested();

}  // namespace blockhost
