// `blockhost run`: one simulation run as a host performs it, paced at a
// fixed step period, with a trace of every input and output.
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "commands.h"
#include "errors.h"
#include "host_system.h"
#include "input_signal.h"
#include "library_call.h"
#include "project_file.h"
#include "step_timing.h"
#include "trace.h"
#include "value_array.h"

namespace blockhost {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::string LinkText(const BlockSettings& s) {
  if (s.interface_kind == 0) return "UDP " + s.address + ":" + std::to_string(s.udp_port);
  if (s.interface_kind == 1) {
    return "serial COM" + std::to_string(s.com_port) + " at " + std::to_string(s.baud_rate) +
           " baud";
  }
  return "interface " + std::to_string(s.interface_kind);
}

bool PinDrivesBoard(const BlockSettings& s, int index) {
  return s.pin_mode[index] == 2 || s.pin_mode[index] == 3;
}

// The trace's channels: every input, then every output, with the ones the
// settings put to use marked for the plot.
Trace EmptyTrace(const IoDescription& io, const BlockSettings& s,
                 const std::map<int, InputSignal>& signals) {
  Trace trace;
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    bool used = k < kPinCount && (PinDrivesBoard(s, static_cast<int>(k)) ||
                                  signals.count(static_cast<int>(k) + kFirstPin));
    // PWM values run to 1023 and digital levels to 5, so they get panels of
    // their own rather than the levels flattening at the bottom of one.
    bool pwm = k < kPinCount && s.pin_mode[k] == 3;
    trace.channels.push_back({"in " + io.inputs[k],
                              pwm ? "Block inputs: PWM values to the board"
                                  : "Block inputs: digital levels to the board",
                              used,
                              {}});
  }
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    bool digital = k < kPinCount;
    bool used = digital ? s.pin_mode[k] == 1
                        : k - kPinCount < kAnalogCount && s.analog_used[k - kPinCount] > 0;
    trace.channels.push_back({"out " + io.outputs[k],
                              digital ? "Block outputs: digital pins read from the board"
                                      : "Block outputs: analog inputs of the board",
                              used,
                              {}});
  }
  return trace;
}

void WriteResults(const CommandLine& line, const Trace& trace) {
  if (!line.csv_path.empty()) WriteCsv(trace, line.csv_path);
  if (!line.plot_path.empty()) WriteSvgPlot(trace, line.plot_path);
}

void PrintSummary(const CommandLine& line, const Trace& trace, const BlockSettings& s,
                  double init_ms, const std::vector<double>& step_ms, long overruns) {
  printf("steps           %zu of %ld, period %.3g ms, over %s\n", trace.time_ms.size(), line.steps,
         line.period_ms, LinkText(s).c_str());
  printf("first step      %.2f ms (InitSimulationDLL: pin modes, then the first step)\n", init_ms);
  TimingSummary timing = Summarise(step_ms);
  if (timing.count > 0) {
    printf("step time       min %.2f ms, median %.2f ms, max %.2f ms (%zu SimulateDLL calls)\n",
           timing.min_ms, timing.median_ms, timing.max_ms, timing.count);
  }
  printf("overruns        %ld step(s) took longer than the period\n", overruns);
  printf("outputs at the end:\n");
  // The channels list the block's inputs first, then its outputs.
  for (size_t c = kPinCount; c < trace.channels.size(); ++c) {
    const TraceChannel& channel = trace.channels[c];
    if (!channel.plotted || channel.values.empty()) continue;
    printf("  %-22s %.10g\n", channel.name.c_str(), channel.values.back());
  }
  if (!line.csv_path.empty()) printf("csv             %s\n", line.csv_path.c_str());
  if (!line.plot_path.empty()) printf("plot            %s\n", line.plot_path.c_str());
}

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
  if (io.inputs.size() != kPinCount || io.outputs.size() != kPinCount + kAnalogCount) {
    throw InputError("the block describes " + std::to_string(io.inputs.size()) + " inputs and " +
                     std::to_string(io.outputs.size()) + " outputs; blockhost runs blocks of " +
                     std::to_string(kPinCount) + " and " +
                     std::to_string(kPinCount + kAnalogCount));
  }
}

// A signal given for a pin the settings do not drive reaches nothing; the
// run goes ahead, but the user hears why that input does not show.
void NoteUnusedInputs(const BlockSettings& settings, const std::map<int, InputSignal>& signals) {
  for (const auto& [pin, signal] : signals) {
    if (!PinDrivesBoard(settings, pin - kFirstPin)) {
      fprintf(stderr, "blockhost: note: pin %d is %s, so the block does not use its input\n", pin,
              PinModeWord(settings.pin_mode[pin - kFirstPin]).c_str());
    }
  }
}

void RequireReadyToSimulate(const BlockExports& e, BlockInstance& block,
                            const BlockSettings& settings) {
  if (CallLibraryFor([&] { return e.CanSimulateDLL(block.record()); }) == 0) {
    std::string why = settings.interface_kind == 1
                          ? "serial port COM" + std::to_string(settings.com_port) +
                                " cannot be opened (on Linux, ARDUINO_BLOCK_COM" +
                                std::to_string(settings.com_port) + " may name its device)"
                          : "it refuses the interface of these settings";
    throw InputError("the block is not ready to simulate: " + why);
  }
}

// Adds one step to the trace.  The inputs are recorded as the block left
// them: it clamps PWM values in place, and the clamped value is what reached
// the board.
void RecordStep(const IoDescription& io, double time_ms, const ValueArray& inputs,
                const ValueArray& outputs, Trace* trace) {
  trace->time_ms.push_back(time_ms);
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    trace->channels[k].values.push_back(static_cast<double>(inputs.Get(k)));
  }
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    trace->channels[io.inputs.size() + k].values.push_back(static_cast<double>(outputs.Get(k)));
  }
}

// A library error has stopped the run: ends what the library started, if
// it started, and keeps the steps done so far, so the trace shows where the
// run stopped.
void EndStoppedRun(const CommandLine& line, const BlockExports& e, BlockInstance& block,
                   bool started, const Trace& trace) {
  if (started) {
    try {
      CallLibrary([&] { e.EndSimulationDLL2(block.record()); });
    } catch (const LibraryError& end_error) {
      fprintf(stderr, "blockhost: library error while ending the run: %s\n", end_error.what());
    }
  }
  fprintf(stderr, "blockhost: the run stopped at step %zu of %ld\n", trace.time_ms.size() + 1,
          line.steps);
  WriteResults(line, trace);
}

}  // namespace

int RunCommand(const CommandLine& line) {
  const std::map<int, InputSignal> signals = SignalsOf(line);
  BlockLibrary library(LibraryPath(line));
  const BlockExports& e = library.exports();
  const std::string name = library.Name();
  BlockInstance block(library);
  LoadProject(line.project, name, &block);
  const BlockSettings settings = ReadSettings(&block);
  const IoDescription io = DescribeIo(e);
  RequirePinLayout(io);
  NoteUnusedInputs(settings, signals);
  RequireReadyToSimulate(e, block, settings);

  Trace trace = EmptyTrace(io, settings, signals);
  trace.title = name + " block, " + LinkText(settings) + ", " + std::to_string(line.steps) +
                " steps of " + std::to_string(static_cast<long>(line.period_ms)) + " ms";
  ValueArray inputs(io.inputs.size());
  ValueArray outputs(io.outputs.size());
  const bool progress = StderrIsTerminal();
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(line.period_ms));
  double init_ms = 0.0;
  std::vector<double> step_ms;
  long overruns = 0;
  bool started = false;
  const Clock::time_point start = Clock::now();
  Clock::time_point last_progress = start;

  try {
    for (long step = 0; step < line.steps; ++step) {
      std::this_thread::sleep_until(start + step * period);
      const Clock::time_point step_start = Clock::now();
      const double time_ms = MillisecondsBetween(start, step_start);
      for (const auto& [pin, signal] : signals) {
        inputs.Set(pin - kFirstPin, signal.ValueAt(time_ms));
      }
      if (step == 0) {
        started = true;
        CallLibrary([&] { e.InitSimulationDLL(block.record(), inputs.data(), outputs.data()); });
      } else {
        CallLibrary(
            [&] { e.SimulateDLL(Lead12{}, block.record(), inputs.data(), outputs.data()); });
      }
      const Clock::time_point step_end = Clock::now();
      const double took_ms = MillisecondsBetween(step_start, step_end);
      (step == 0 ? init_ms : step_ms.emplace_back()) = took_ms;
      if (step > 0 && took_ms > line.period_ms) ++overruns;

      RecordStep(io, time_ms, inputs, outputs, &trace);
      if (progress && (step_end - last_progress >= kProgressInterval || step + 1 == line.steps)) {
        last_progress = step_end;
        fprintf(stderr, "\r\033[Kstep %ld/%ld  %.1f s  last step %.2f ms", step + 1, line.steps,
                time_ms / 1000.0, took_ms);
      }
    }
    if (progress) fputs("\r\033[K", stderr);
    CallLibrary([&] { e.EndSimulationDLL2(block.record()); });
  } catch (const LibraryError&) {
    if (progress) fputs("\n", stderr);
    EndStoppedRun(line, e, block, started, trace);
    throw;
  }
  WriteResults(line, trace);
  PrintSummary(line, trace, settings, init_ms, step_ms, overruns);
  return kExitOk;
}

}  // namespace blockhost
