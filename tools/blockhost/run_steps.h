// The steps of `blockhost run`, once everything is ready: each paced to its
// time, watched while the library keeps the board waiting, and recorded;
// then the end of the run, its files and its summary.
#pragma once

#include <map>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "command_line.h"
#include "input_signal.h"
#include "step_timing.h"
#include "trace.h"

namespace blockhost {

// Runs line.steps steps of `block` at line.period_ms, driving the inputs of
// `signals` and filling `trace`; returns the run's exit status.
int RunSteps(const CommandLine& line, const BlockExports& e, BlockInstance& block,
             const BlockSettings& settings, const IoDescription& io,
             const std::map<int, InputSignal>& signals, const LinkLoad& load, Trace trace);

}  // namespace blockhost
