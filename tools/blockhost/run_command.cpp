// `blockhost run`: one simulation run as a host performs it, paced at a
// fixed step period, with a trace of every input and output.  This file
// readies the block for the run; run_steps.h runs it, run_messages.h and
// run_results.h say what became of it, run_options.h reads its options.
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "commands.h"
#include "errors.h"
#include "held_port.h"
#include "input_signal.h"
#include "library_call.h"
#include "link_text.h"
#include "project_file.h"
#include "run_messages.h"
#include "run_options.h"
#include "run_results.h"
#include "run_steps.h"
#include "step_timing.h"

namespace blockhost {
namespace {

// The input signals of the command line, by pin.
std::map<int, InputSignal> SignalsOf(const CommandLine& line) {
  std::map<int, InputSignal> signals;
  for (const std::string& text : line.inputs) {
    InputAssignment assignment = ParseInputAssignment(text);
    signals[assignment.pin] = assignment.signal;
  }
  return signals;
}

void RequirePinLayout(const IoDescription& io) {
  if (io.inputs.size() != kDigitalPins || io.outputs.size() != kDigitalPins + kAnalogInputs) {
    throw InputError("the block describes " + std::to_string(io.inputs.size()) + " inputs and " +
                     std::to_string(io.outputs.size()) + " outputs; blockhost runs blocks of " +
                     std::to_string(kDigitalPins) + " and " +
                     std::to_string(kDigitalPins + kAnalogInputs));
  }
}

// A signal given for a pin the settings do not drive reaches nothing; the
// run goes ahead, but the user hears why that input does not show.
void NoteUnusedInputs(const BlockSettings& settings, const std::map<int, InputSignal>& signals) {
  for (const auto& [pin, signal] : signals) {
    if (!hostmodel::DrivesPin(settings.pin_mode[pin - kFirstPin])) {
      fprintf(stderr, "blockhost: note: pin %d is %s, so the block does not use its input\n", pin,
              PinModeWord(settings.pin_mode[pin - kFirstPin]).c_str());
    }
  }
}

// Nothing when the block is ready to simulate; otherwise the exit code,
// the reason having been told.
std::optional<int> ReadyToSimulate(const BlockExports& e, BlockInstance& block,
                                   const BlockSettings& settings) {
  if (CallLibraryFor([&] { return e.CanSimulateDLL(block.record()); }) != 0) return std::nullopt;
  if (!settings.OverSerial()) {
    throw InputError(
        "the block is not ready to simulate: it refuses the interface of these "
        "settings");
  }
  fprintf(stderr, "blockhost: %s\n", UnopenedPortText(settings.com_port).c_str());
  return kExitPortUnusable;
}

// The command line with the period the run keeps.  Without --period-ms the
// period is one the link can keep: a new USB project at 9600 baud needs some
// 150 ms a step, and would overrun the usual 50 ms in every step.
CommandLine WithFittingPeriod(const CommandLine& line, const BlockSettings& settings,
                              const LinkLoad& load) {
  CommandLine run_line = line;
  if (line.period_given) return run_line;
  run_line.period_ms = DefaultPeriodMs(load);
  if (run_line.period_ms != line.period_ms) {
    fprintf(stderr,
            "blockhost: note: a step makes %d exchanges, about %.0f ms over %s, so the period "
            "is %.0f ms rather than %.0f; --period-ms sets another\n",
            load.step_exchanges, load.answered_step_ms, LinkText(settings).c_str(),
            run_line.period_ms, line.period_ms);
  }
  return run_line;
}

int RunCommand(const CommandLine& line) {
  const std::map<int, InputSignal> signals = SignalsOf(line);
  RequireWritableOutputs(line);
  BlockLibrary library(LibraryPath(line));
  const BlockExports& e = library.exports();
  const std::string name = library.Name();
  BlockInstance block(library);
  LoadProject(line.project, name, &block);
  const BlockSettings settings = ReadSettings(&block);
  const IoDescription io = DescribeIo(e);
  RequirePinLayout(io);
  NoteUnusedInputs(settings, signals);
  if (std::optional<int> refused = ReadyToSimulate(e, block, settings)) return *refused;

  const LinkLoad load = LoadOf(settings);
  const CommandLine run_line = WithFittingPeriod(line, settings, load);
  TellTiming(run_line, settings, load);
  return RunSteps(run_line, e, block, settings, io, signals, load,
                  TraceFor(run_line, name, settings, io, signals));
}

}  // namespace

const Command kRunCommand = {
    "run",
    "usage: blockhost run [--lib PATH] --project F [--steps N] [--period-ms P]\n"
    "                     [--input PIN=SIGNAL]... [--csv F.csv] [--plot F.svg]\n",
    "run N steps (default 100) every P ms\n(default 50)", AddRunOptions, RunCommand};

}  // namespace blockhost
