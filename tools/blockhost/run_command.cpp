// `blockhost run`: one simulation run as a host performs it, paced at a
// fixed step period, with a trace of every input and output.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <thread>

#include "block_instance.h"
#include "block_library.h"
#include "block_settings.h"
#include "call_watch.h"
#include "check_outcome.h"
#include "commands.h"
#include "config/setting_rules.h"
#include "errors.h"
#include "held_port.h"
#include "input_signal.h"
#include "library_call.h"
#include "link_text.h"
#include "number_text.h"
#include "process_environment.h"
#include "project_file.h"
#include "step_timing.h"
#include "stop_request.h"
#include "tool_command_line.h"
#include "trace.h"
#include "value_array.h"

namespace blockhost {
namespace {

using Clock = std::chrono::steady_clock;
using hostmodel::ValueArray;

constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// A library call that lasts longer than this is told about every time it
// has waited this long again, so that a quiet terminal is never a mystery.
constexpr auto kHeartbeatInterval = std::chrono::seconds(2);
// A call that has taken twice its estimate, plus this share of one
// exchange's whole wait and the margin, has had an exchange wait out its
// limit: an answering board stays far below that, and a call waits out its
// limit only a hair over the limit itself.
constexpr double kLateShareOfWait = 0.95;
constexpr double kLateMarginMs = 20.0;
// How often a wait for the next step looks for a stop request.
constexpr auto kStopPollInterval = std::chrono::milliseconds(20);

Clock::duration ToDuration(double ms) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

bool PinDrivesBoard(const BlockSettings& s, int index) {
  return hostmodel::DrivesPin(s.pin_mode[index]);
}

// The trace's channels: every input, then every output, with the ones the
// settings put to use marked for the plot.
Trace EmptyTrace(const IoDescription& io, const BlockSettings& s,
                 const std::map<int, InputSignal>& signals) {
  Trace trace;
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    bool used = k < kDigitalPins && (PinDrivesBoard(s, static_cast<int>(k)) ||
                                     signals.count(static_cast<int>(k) + kFirstPin));
    // PWM values run to 1023 and digital levels to 5, so they get panels of
    // their own rather than the levels flattening at the bottom of one.
    bool pwm = k < kDigitalPins && s.pin_mode[k] == arduino::pmPWMOutput;
    trace.channels.push_back({"in " + io.inputs[k],
                              pwm ? "Block inputs: PWM values to the board"
                                  : "Block inputs: digital levels to the board",
                              used,
                              {},
                              pwm ? TraceScale::kCount : TraceScale::kLevel});
  }
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    bool digital = k < kDigitalPins;
    bool used = digital ? s.pin_mode[k] == arduino::pmDigitalInput
                        : k - kDigitalPins < kAnalogInputs && s.analog_used[k - kDigitalPins] > 0;
    trace.channels.push_back({"out " + io.outputs[k],
                              digital ? "Block outputs: digital pins read from the board"
                                      : "Block outputs: analog inputs of the board",
                              used,
                              {},
                              digital ? TraceScale::kLevel : TraceScale::kCount});
  }
  return trace;
}

// Every output path, before the run: a file that cannot be written would
// otherwise lose the whole run at its end.
void RequireWritableOutputs(const CommandLine& line) {
  if (!line.csv_path.empty() && !line.plot_path.empty()) {
    std::error_code ignored;
    if (std::filesystem::weakly_canonical(line.csv_path, ignored) ==
        std::filesystem::weakly_canonical(line.plot_path, ignored)) {
      throw InputError("--csv and --plot name the same file, '" + line.csv_path + "'");
    }
  }
  if (!line.csv_path.empty()) RequireWritable(line.csv_path);
  if (!line.plot_path.empty()) RequireWritable(line.plot_path);
}

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
Written WriteResults(const CommandLine& line, const Trace& trace) {
  const auto attempt = [&](const std::string& path, auto write) {
    if (path.empty()) return false;
    try {
      write(trace, path);
      return true;
    } catch (const InputError& error) {
      fprintf(stderr, "blockhost: %s\n", error.what());
      return false;
    }
  };
  Written written;
  // A run that did no step has nothing to show, and what the files hold may
  // be the last good trace.
  if (trace.time_ms.empty()) {
    for (const std::string* path : {&line.csv_path, &line.plot_path}) {
      if (!path->empty()) {
        fprintf(stderr, "blockhost: no step was done, so '%s' is left as it was\n", path->c_str());
      }
    }
    written.kept = true;
    return written;
  }
  written.csv = attempt(line.csv_path, WriteCsv);
  written.plot = attempt(line.plot_path, WriteSvgPlot);
  return written;
}

// The command that tests this project's link.
std::string CheckCommandFor(const CommandLine& line) { return CommandWithProject("check", line); }

void HintCheck(const CommandLine& line) {
  fprintf(stderr, "blockhost: `%s` tests the link and says what to look at\n",
          CheckCommandFor(line).c_str());
}

// Says before the first step when the link cannot keep up with the period,
// and which line speed would.
void TellTiming(const CommandLine& line, const BlockSettings& s, const LinkLoad& load) {
  // A period of 0 asks for steps as fast as the link goes.
  if (line.period_ms <= 0.0 || load.step_exchanges == 0 ||
      load.answered_step_ms <= line.period_ms) {
    return;
  }
  if (!s.OverSerial()) {
    fprintf(stderr,
            "blockhost: note: a step makes %d exchanges, about 1 ms each with an Ethernet board: "
            "about %.0f ms, longer than the period of %.3g ms, so steps will overrun\n",
            load.step_exchanges, load.answered_step_ms, line.period_ms);
    return;
  }
  fprintf(stderr,
          "blockhost: note: a step makes %d exchanges, %d bytes at %d baud: at least %.0f ms on "
          "the line, longer than the period of %.3g ms, so every step will overrun\n",
          load.step_exchanges, load.step_bytes, s.baud_rate, load.answered_step_ms, line.period_ms);
  if (std::optional<int> speed = SpeedThatFits(s, line.period_ms)) {
    BlockSettings faster = s;
    faster.baud_rate = *speed;
    fprintf(stderr,
            "blockhost: note: at %d baud a step takes about %.0f ms: `blockhost set --project %s "
            "baud=%d`, and flash the board with the image for %d baud\n",
            *speed, LoadOf(faster).answered_step_ms, line.project.c_str(), *speed, *speed);
  } else {
    BlockSettings fastest = s;
    fastest.baud_rate = arduino::kBaudRates[arduino::kBaudRateCount - 1];
    fprintf(stderr,
            "blockhost: note: even at %d baud a step takes about %.0f ms; a longer --period-ms "
            "or fewer pins in use would fit\n",
            fastest.baud_rate, LoadOf(fastest).answered_step_ms);
  }
}

// A stretch of steps in which every exchange waited out its limit has just
// begun with `step` (from 1); `took_ms` is what its `exchanges` exchanges
// took.
void TellSilenceBegan(const CommandLine& line, const LinkLoad& load, long step, double took_ms,
                      int exchanges) {
  fprintf(stderr,
          "blockhost: the board does not seem to answer from step %ld on: the step took %.0f "
          "ms, as long as its %d exchange%s waiting the full %.0f ms for a reply each; the "
          "outputs are not the board's\n",
          step, took_ms, exchanges, exchanges == 1 ? "" : "s", load.reply_wait_ms);
  HintCheck(line);
}

// After the run: every stretch without an answer, where it began and ended.
void TellSilentStretches(const CommandLine& line, const std::vector<SilentStretch>& stretches,
                         size_t steps_done) {
  for (const SilentStretch& s : stretches) {
    const long count = s.last_step - s.first_step + 1;
    if (count == 1) {
      fprintf(stderr, "blockhost: no answer from the board in step %ld of %zu: ", s.first_step,
              steps_done);
    } else {
      fprintf(stderr,
              "blockhost: no answer from the board in steps %ld to %ld of %zu: ", s.first_step,
              s.last_step, steps_done);
    }
    fputs("every exchange waited out its limit, and the outputs there are not the board's\n",
          stderr);
  }
  HintCheck(line);
}

// What the first exchange that waits out its limit tells, as soon as it has:
// the usual cause, and the command that finds it.
std::string NoReplyText(const CommandLine& line, const BlockSettings& s) {
  std::string text =
      s.OverSerial()
          ? "no reply from " + SerialLinkText(ComPortName(s.com_port), s.baud_rate) +
                ": flashed for another speed?"
          : "no reply from " + LinkText(s) + ": is the board on, at that address and port?";
  return text + " `" + CheckCommandFor(line) + "`";
}

void PrintSummary(const CommandLine& line, const Trace& trace, const BlockSettings& s,
                  double init_ms, const std::vector<double>& step_ms, long overruns,
                  const Written& written) {
  printf("steps           %zu of %ld, period %.3g ms, over %s\n", trace.time_ms.size(), line.steps,
         line.period_ms, LinkText(s).c_str());
  if (!trace.time_ms.empty()) {
    printf(
        "start           %.2f ms (InitSimulationDLL: %spin modes, then the first step); the "
        "step clock starts when it returns\n",
        init_ms, s.OverSerial() ? "opening the port and its pause, " : "");
  }
  TimingSummary timing = Summarise(step_ms);
  if (timing.count > 0) {
    printf("step time       min %.2f ms, median %.2f ms, max %.2f ms (%zu SimulateDLL calls)\n",
           timing.min_ms, timing.median_ms, timing.max_ms, timing.count);
  }
  printf("overruns        %ld step(s) took longer than the period\n", overruns);
  printf("outputs at the end:\n");
  // The channels list the block's inputs first, then its outputs.
  for (size_t c = kDigitalPins; c < trace.channels.size(); ++c) {
    const TraceChannel& channel = trace.channels[c];
    if (!channel.plotted || channel.values.empty()) continue;
    printf("  %-22s %.10g\n", channel.name.c_str(), channel.values.back());
  }
  if (written.csv) printf("csv             %s\n", line.csv_path.c_str());
  if (written.plot) printf("plot            %s\n", line.plot_path.c_str());
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
    if (!PinDrivesBoard(settings, pin - kFirstPin)) {
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

// Adds one step to the trace.  The inputs are recorded as the block left
// them: it clamps PWM values in place, and the clamped value is what reached
// the board.
void RecordStep(const IoDescription& io, double time_ms, const ValueArray& inputs,
                const ValueArray& outputs, Trace* trace) {
  trace->time_ms.push_back(time_ms);
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    trace->channels[k].values.push_back(static_cast<double>(inputs[k]));
  }
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    trace->channels[io.inputs.size() + k].values.push_back(static_cast<double>(outputs[k]));
  }
}

// A library error or a stop request has ended the run early: ends what the
// library started, if it started, and says where the run stopped.
void EndStoppedRun(const CommandLine& line, const BlockExports& e, BlockInstance& block,
                   bool started, const Trace& trace) {
  if (started) {
    try {
      CallLibrary([&] { e.EndSimulationDLL2(block.record()); });
    } catch (const LibraryError& end_error) {
      fprintf(stderr, "blockhost: library error while ending the run: %s\n", end_error.what());
    }
  }
  if (StopRequested() != 0) {
    fprintf(stderr, "blockhost: stopped after %zu of %ld steps\n", trace.time_ms.size(),
            line.steps);
  } else {
    fprintf(stderr, "blockhost: the run stopped at step %zu of %ld\n", trace.time_ms.size() + 1,
            line.steps);
  }
}

// Analog outputs the block has not written in a step read as NaN: before
// each step the used ones are set so, and every step that ends normally
// writes them all.  The first one left is the pin whose reply broke off the
// step.
void MarkAnalogOutputsUnread(const BlockSettings& s, ValueArray* outputs) {
  for (int k = 0; k < kAnalogInputs; ++k) {
    if (s.analog_used[k] > 0)
      outputs->Set(kDigitalPins + k, std::numeric_limits<double>::quiet_NaN());
  }
}

std::optional<int> FirstUnreadAnalogInput(const BlockSettings& s, const ValueArray& outputs) {
  for (int k = 0; k < kAnalogInputs; ++k) {
    if (s.analog_used[k] > 0 && std::isnan(outputs[kDigitalPins + k])) return k;
  }
  return std::nullopt;
}

// Sleeps until `when`, or until a stop is requested.
void WaitForStep(Clock::time_point when) {
  while (StopRequested() == 0) {
    const Clock::time_point now = Clock::now();
    if (now >= when) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(when - now, kStopPollInterval));
  }
}

// The library's message as it is; an empty reply in it is a board that did
// not answer, and the pin says where.
void ReportLibraryError(const CommandLine& line, const std::string& library_error,
                        std::optional<int> unanswered_analog) {
  fprintf(stderr, "blockhost: library error: %s\n", library_error.c_str());
  std::optional<std::string> reply = ReplyOfConversionError(library_error);
  if (!reply || !reply->empty()) return;
  if (unanswered_analog) {
    fprintf(stderr, "blockhost: analog input A%d got no answer from the board\n",
            *unanswered_analog);
  } else {
    fputs("blockhost: a pin got no answer from the board\n", stderr);
  }
  HintCheck(line);
}

// The trace a run fills, with the title that says what was run.
Trace TraceFor(const CommandLine& line, const std::string& name, const BlockSettings& settings,
               const IoDescription& io, const std::map<int, InputSignal>& signals) {
  Trace trace = EmptyTrace(io, settings, signals);
  trace.title = name + " block, " + LinkText(settings) + ", " + std::to_string(line.steps) +
                " steps of " + std::to_string(static_cast<long>(line.period_ms)) + " ms";
  trace.notes = line.plot_notes;
  return trace;
}

// The steps of a run, once everything is ready: each paced to its time,
// watched while the library keeps the board waiting, and recorded; then the
// end of the run, its files and its summary.
class Simulation {
 public:
  Simulation(const CommandLine& line, const BlockExports& e, BlockInstance& block,
             const BlockSettings& settings, const IoDescription& io,
             const std::map<int, InputSignal>& signals, const LinkLoad& load, Trace trace)
      : line_(line),
        e_(e),
        block_(block),
        settings_(settings),
        io_(io),
        signals_(signals),
        load_(load),
        trace_(std::move(trace)),
        inputs_(io.inputs.size()),
        outputs_(io.outputs.size()),
        progress_(StderrIsTerminal()),
        period_(ToDuration(line.period_ms)),
        silence_(load),
        // Times are taken from the start of the run, but the steps' clock
        // starts when the first step returns: a serial port's opening pause
        // would otherwise leave the next steps behind their time, and they
        // would run back to back to catch up.
        start_(Clock::now()),
        clock_start_(start_),
        last_progress_(start_),
        // A call that keeps the board waiting is told about while it lasts.
        watch_(
            kHeartbeatInterval, [this] { TellNoReply(); },
            [this](CallWatch::Clock::duration took) { TellStillWaiting(took); }) {}

  // The whole run; returns its exit status.
  int Run() {
    if (settings_.OverSerial()) {
      fprintf(stderr,
              "blockhost: opening %s; the board restarts, so the first step takes over %.0f s\n",
              SerialLinkText(ComPortName(settings_.com_port), settings_.baud_rate).c_str(),
              load_.open_pause_ms / 1000.0);
    }
    CatchStopRequests(progress_);
    try {
      for (long step = 0; step < line_.steps; ++step) {
        if (step > 0) WaitForStep(clock_start_ + step * period_);
        if (StopRequested() != 0) break;
        DoStep(step);
      }
    } catch (const LibraryError& error) {
      library_error_ = error.what();
    }
    const int stop = StopRequested();
    EndRun(stop);
    ReleaseStopRequests();
    return Finish(stop);
  }

 private:
  void DoStep(long step) {
    const Clock::time_point step_start = Clock::now();
    const double time_ms = MillisecondsBetween(start_, step_start);
    for (const auto& [pin, signal] : signals_) {
      inputs_.Set(pin - kFirstPin, signal.ValueAt(time_ms));
    }
    CallStep(step);
    const Clock::time_point step_end = Clock::now();
    const double took_ms = MillisecondsBetween(step_start, step_end);
    (step == 0 ? init_ms_ : step_ms_.emplace_back()) = took_ms;
    if (step == 0) clock_start_ = step_end;
    // Opening a serial port restarts the board, and the first step waits
    // for it (the block's 2 s pause): the plot marks that wait.
    if (step == 0 && settings_.OverSerial()) trace_.open_pause_ms = took_ms;
    if (step > 0 && took_ms > line_.period_ms) ++overruns_;

    RecordStep(io_, time_ms, inputs_, outputs_, &trace_);
    TellSilenceChange(step, took_ms);
    ShowProgress(step, step_end, time_ms, took_ms);
  }

  // The step's call into the library, watched.  A call that fails leaves
  // the outputs as they were before the step, once it has been seen which
  // analog input got no answer.
  void CallStep(long step) {
    const ValueArray outputs_before = outputs_;
    MarkAnalogOutputsUnread(settings_, &outputs_);
    step_number_ = step + 1;
    const double pause_ms = step == 0 ? load_.open_pause_ms : 0.0;
    watch_.Begin(LateAfter(step, pause_ms), ToDuration(pause_ms));
    try {
      if (step == 0) {
        started_ = true;
        CallLibrary(
            [&] { e_.InitSimulationDLL(block_.record(), inputs_.data(), outputs_.data()); });
      } else {
        CallLibrary(
            [&] { e_.SimulateDLL(Lead12{}, block_.record(), inputs_.data(), outputs_.data()); });
      }
    } catch (const LibraryError&) {
      watch_.End();
      unanswered_analog_ = FirstUnreadAnalogInput(settings_, outputs_);
      outputs_ = outputs_before;
      throw;
    }
    watch_.End();
  }

  // Late: past what the call takes when the board answers, by nearly one
  // exchange's whole wait.  Said once a run.
  std::optional<Clock::duration> LateAfter(long step, double pause_ms) const {
    if (no_reply_told_ || load_.step_exchanges == 0) return std::nullopt;
    const int exchanges = load_.step_exchanges + (step == 0 ? load_.mode_exchanges : 0);
    const double answered_ms = load_.answered_step_ms * exchanges / load_.step_exchanges;
    return ToDuration(pause_ms + 2 * answered_ms + kLateShareOfWait * load_.reply_wait_ms +
                      kLateMarginMs);
  }

  // A board that answers nothing is worth hearing about before a long run
  // has waited out every step, and so is one that comes back.
  void TellSilenceChange(long step, double took_ms) {
    const SilenceLog::Change change = silence_.Record(took_ms);
    if (change == SilenceLog::Change::kBegan) {
      EndProgressLine();
      if (step == 0) {
        TellSilenceBegan(line_, load_, step + 1, took_ms - load_.open_pause_ms,
                         load_.mode_exchanges + load_.step_exchanges);
      } else {
        TellSilenceBegan(line_, load_, step + 1, took_ms, load_.step_exchanges);
      }
      if (step + 1 < line_.steps) {
        fputs("blockhost: the run goes on; Ctrl-C ends it and keeps the steps so far\n", stderr);
      }
    } else if (change == SilenceLog::Change::kEnded) {
      EndProgressLine();
      fprintf(stderr, "blockhost: the board answers again from step %ld\n", step + 1);
    }
  }

  void ShowProgress(long step, Clock::time_point step_end, double time_ms, double took_ms) {
    if (!progress_ || StopRequested() != 0) return;
    if (step_end - last_progress_ < kProgressInterval && step + 1 != line_.steps) return;
    last_progress_ = step_end;
    progress_shown_ = true;
    fprintf(stderr, "\r\033[Kstep %ld/%ld  %.1f s  last step %.2f ms", step + 1, line_.steps,
            time_ms / 1000.0, took_ms);
  }

  void EndProgressLine() {
    if (progress_shown_) fputs("\n", stderr);
    progress_shown_ = false;
  }

  // The watch's: the first call that waits out its limit, and every beat of
  // a call that goes on waiting.
  void TellNoReply() {
    EndProgressLine();
    fprintf(stderr, "blockhost: %s\n", NoReplyText(line_, settings_).c_str());
    no_reply_told_ = true;
  }

  void TellStillWaiting(CallWatch::Clock::duration took) {
    EndProgressLine();
    fprintf(stderr, "blockhost: step %ld has waited %.0f s for the board so far\n", step_number_,
            std::chrono::duration<double>(took).count());
  }

  // Ends what the library started, however the steps ended.
  void EndRun(int stop) {
    // The stop request's own note has ended the progress line.
    if (progress_shown_ && stop == 0) fputs(library_error_ ? "\n" : "\r\033[K", stderr);
    if (library_error_ || stop != 0) {
      EndStoppedRun(line_, e_, block_, started_, trace_);
      return;
    }
    try {
      CallLibrary([&] { e_.EndSimulationDLL2(block_.record()); });
    } catch (const LibraryError& error) {
      library_error_ = error.what();
    }
  }

  // The files, the summary and what went wrong; returns the exit status.
  int Finish(int stop) {
    const Written written = WriteResults(line_, trace_);
    PrintSummary(line_, trace_, settings_, init_ms_, step_ms_, overruns_, written);
    fflush(stdout);
    const bool silent = !library_error_ && !silence_.stretches().empty();
    if (silent) TellSilentStretches(line_, silence_.stretches(), trace_.time_ms.size());
    if (library_error_) {
      ReportLibraryError(line_, *library_error_, unanswered_analog_);
      return kExitLibrary;
    }
    if (stop != 0) return stop;
    if (!written.all(line_)) return kExitUsage;
    return silent ? kExitBoardSilent : kExitOk;
  }

  const CommandLine& line_;
  const BlockExports& e_;
  BlockInstance& block_;
  const BlockSettings& settings_;
  const IoDescription& io_;
  const std::map<int, InputSignal>& signals_;
  const LinkLoad& load_;
  Trace trace_;
  ValueArray inputs_;
  ValueArray outputs_;
  const bool progress_;  // stderr is a terminal, which shows a progress line
  const Clock::duration period_;
  SilenceLog silence_;
  const Clock::time_point start_;
  Clock::time_point clock_start_;
  Clock::time_point last_progress_;
  double init_ms_ = 0.0;
  std::vector<double> step_ms_;
  long overruns_ = 0;
  bool started_ = false;  // InitSimulationDLL was called, so the run must end
  bool progress_shown_ = false;
  bool no_reply_told_ = false;
  long step_number_ = 0;  // the step under way, from 1, for the watch
  std::optional<std::string> library_error_;
  std::optional<int> unanswered_analog_;
  CallWatch watch_;  // last: its thread calls back into the members above
};

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
  Simulation simulation(run_line, e, block, settings, io, signals, load,
                        TraceFor(run_line, name, settings, io, signals));
  return simulation.Run();
}

long ParseSteps(const std::string& text) {
  const std::optional<long> value = tool_cli::ParseNumber<long>(text);
  if (!value || *value < 1 || *value > 10'000'000) {
    tool_cli::Refuse("--steps", "'" + text + "' is not a step count 1..10000000");
  }
  return *value;
}

double ParsePeriod(const std::string& text) {
  const std::optional<double> value = tool_cli::ParseNumber<double>(text);
  if (!value || !(*value >= 0.0) || *value > 3'600'000.0) {
    tool_cli::Refuse("--period-ms", "'" + text + "' is not a period 0..3600000 ms");
  }
  return *value;
}

// --csv, --plot and --plot-note: where the trace goes.
void AddTraceOptions(CLI::App* command, CommandLine* line) {
  command->add_option("--csv", line->csv_path, "write the trace as CSV")->type_name("F.csv");
  command->add_option("--plot", line->plot_path, "write the trace as an SVG plot")
      ->type_name("F.svg");
  command
      ->add_option("--plot-note", line->plot_notes,
                   "a line under the plot's title, such as how the\n"
                   "board is wired; repeat for more lines")
      ->type_name("TEXT")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void AddRunOptions(CLI::App* command, CommandLine* line) {
  AddLibraryOption(command, line);
  AddProjectOption(command, line)->required();
  tool_cli::AddValueOption(command, "--steps", "N",
                           "the number of steps, 1..10000000 (default 100)",
                           [line](const std::string& text) { line->steps = ParseSteps(text); });
  tool_cli::AddValueOption(command, "--period-ms", "P",
                           "the step period in ms, 0..3600000 (default 50, or\n"
                           "what the link can keep when that is longer)",
                           [line](const std::string& text) {
                             line->period_ms = ParsePeriod(text);
                             line->period_given = true;
                           });
  command
      ->add_option("--input", line->inputs,
                   "drive input PIN with SIGNAL; repeat for more pins.\n"
                   "An output pin goes high above 2.5 (volts); a PWM\n"
                   "pin takes 0..1023 for 0..100 % duty, clamped (9=5\n"
                   "is 5 of 1023, 0.5 %; the board's 8-bit timer gets\n"
                   "1 of 255)")
      ->type_name("PIN=SIGNAL")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddTraceOptions(command, line);
  command->footer(std::string(kInputSignalsHelp) +
                  "\n\n"
                  "exit status: 0 done, 1 bad arguments or files, 2 library error, 5 the port\n"
                  "  cannot be opened, 9 the board did not answer in some steps, 130 stopped by\n"
                  "  Ctrl-C (SIGINT), 143 stopped by SIGTERM; the steps done are kept either way");
}

}  // namespace

const Command kRunCommand = {
    "run",
    "usage: blockhost run [--lib PATH] --project F [--steps N] [--period-ms P]\n"
    "                     [--input PIN=SIGNAL]... [--csv F.csv] [--plot F.svg]\n",
    "run N steps (default 100) every P ms\n(default 50)", AddRunOptions, RunCommand};

}  // namespace blockhost
