#include "run_steps.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "call_watch.h"
#include "errors.h"
#include "library_call.h"
#include "process_environment.h"
#include "run_messages.h"
#include "run_results.h"
#include "stop_request.h"
#include "value_array.h"

namespace blockhost {
namespace {

using Clock = std::chrono::steady_clock;
using hostmodel::ValueArray;

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
        period_(ToDuration(line.period_ms)),
        silence_(load),
        // Times are taken from the start of the run, but the steps' clock
        // starts when the first step returns: a serial port's opening pause
        // would otherwise leave the next steps behind their time, and they
        // would run back to back to catch up.
        start_(Clock::now()),
        clock_start_(start_),
        messages_(line, settings, load, StderrIsTerminal(), start_),
        // A call that keeps the board waiting is told about while it lasts.
        watch_(
            kHeartbeatInterval,
            [this] {
              messages_.TellNoReply();
              no_reply_told_ = true;
            },
            [this](CallWatch::Clock::duration took) {
              messages_.TellStillWaiting(step_number_, took);
            }) {}

  // The whole run; returns its exit status.
  int Run() {
    if (settings_.OverSerial()) messages_.TellOpening();
    CatchStopRequests(messages_.progress());
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
    messages_.TellSilenceChange(silence_.Record(took_ms), step, took_ms);
    messages_.ShowProgress(step, step_end, time_ms, took_ms);
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

  // Ends what the library started, however the steps ended.
  void EndRun(int stop) {
    // The stop request's own note has ended the progress line.
    if (stop == 0) messages_.CloseProgressLine(library_error_.has_value());
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
    if (silent) messages_.TellSilentStretches(silence_.stretches(), trace_.time_ms.size());
    if (library_error_) {
      messages_.ReportLibraryError(*library_error_, unanswered_analog_);
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
  const Clock::duration period_;
  SilenceLog silence_;
  const Clock::time_point start_;
  Clock::time_point clock_start_;
  RunMessages messages_;
  double init_ms_ = 0.0;
  std::vector<double> step_ms_;
  long overruns_ = 0;
  bool started_ = false;  // InitSimulationDLL was called, so the run must end
  bool no_reply_told_ = false;
  long step_number_ = 0;  // the step under way, from 1, for the watch
  std::optional<std::string> library_error_;
  std::optional<int> unanswered_analog_;
  CallWatch watch_;  // last: its thread calls back into the members above
};

}  // namespace

int RunSteps(const CommandLine& line, const BlockExports& e, BlockInstance& block,
             const BlockSettings& settings, const IoDescription& io,
             const std::map<int, InputSignal>& signals, const LinkLoad& load, Trace trace) {
  Simulation simulation(line, e, block, settings, io, signals, load, std::move(trace));
  return simulation.Run();
}

}  // namespace blockhost
