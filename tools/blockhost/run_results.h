// What `blockhost run` keeps of its steps: the trace, every input and output
// step by step, and what becomes of it at the end: the CSV and the plot the
// command line asks for, and the summary on stdout.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "block_instance.h"
#include "block_settings.h"
#include "command_line.h"
#include "input_signal.h"
#include "trace.h"
#include "value_array.h"

namespace blockhost {

// The trace a run fills, with the title that says what was run: every
// input, then every output, with the ones the settings put to use marked
// for the plot.
Trace TraceFor(const CommandLine& line, const std::string& name, const BlockSettings& settings,
               const IoDescription& io, const std::map<int, InputSignal>& signals);

// Adds one step to the trace.  The inputs are recorded as the block left
// them: it clamps PWM values in place, and the clamped value is what reached
// the board.
void RecordStep(const IoDescription& io, double time_ms, const hostmodel::ValueArray& inputs,
                const hostmodel::ValueArray& outputs, Trace* trace);

// Every output path, before the run: a file that cannot be written would
// otherwise lose the whole run at its end.
void RequireWritableOutputs(const CommandLine& line);

// Which of the requested files were written.
struct Written {
  bool csv = false;
  bool plot = false;
  bool kept = false;  // no step was done, so the old files were left alone
  bool all(const CommandLine& line) const {
    return kept || ((csv || line.csv_path.empty()) && (plot || line.plot_path.empty()));
  }
};

// Writes the CSV and the plot, each whatever became of the other; a file
// that could not be written has been named, with the reason.
Written WriteResults(const CommandLine& line, const Trace& trace);

// The summary on stdout: the steps done, how long they took, the outputs at
// the end and the files written.
void PrintSummary(const CommandLine& line, const Trace& trace, const BlockSettings& s,
                  double init_ms, const std::vector<double>& step_ms, long overruns,
                  const Written& written);

}  // namespace blockhost
