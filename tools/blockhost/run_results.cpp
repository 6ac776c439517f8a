#include "run_results.h"

#include <cstdio>
#include <filesystem>

#include "errors.h"
#include "link_text.h"
#include "step_timing.h"
#include "tool_api/setting_rules.h"

namespace blockhost {
namespace {

Trace EmptyTrace(const IoDescription& io, const BlockSettings& s,
                 const std::map<int, InputSignal>& signals) {
  Trace trace;
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    bool used = k < kDigitalPins && (hostmodel::DrivesPin(s.pin_mode[k]) ||
                                     signals.count(static_cast<int>(k) + kFirstPin));
    // PWM values run to 1023 and digital levels to 5, so they get panels of
    // their own rather than the levels flattening at the bottom of one.
    bool pwm = k < kDigitalPins && s.pin_mode[k] == arduino::pmPWMOutput;
    // A digital output pin gets high or low, whatever the signal between.
    bool level = k < kDigitalPins && s.pin_mode[k] == arduino::pmDigitalOutput;
    trace.channels.push_back(
        {"in " + io.inputs[k],
         pwm ? "Block inputs: PWM values to the board"
             : "Block inputs: digital levels to the board",
         used,
         {},
         pwm ? TraceScale::kCount : TraceScale::kLevel,
         level ? std::optional<double>(static_cast<double>(arduino::kHighThreshold))
               : std::nullopt});
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
                              digital ? TraceScale::kLevel : TraceScale::kCount,
                              std::nullopt});
  }
  return trace;
}

}  // namespace

Trace TraceFor(const CommandLine& line, const std::string& name, const BlockSettings& settings,
               const IoDescription& io, const std::map<int, InputSignal>& signals) {
  Trace trace = EmptyTrace(io, settings, signals);
  trace.title = name + " block, " + LinkText(settings) + ", " + std::to_string(line.steps) +
                " steps of " + std::to_string(static_cast<long>(line.period_ms)) + " ms";
  trace.notes = line.plot_notes;
  return trace;
}

void RecordStep(const IoDescription& io, double time_ms, const hostmodel::ValueArray& inputs,
                const hostmodel::ValueArray& outputs, Trace* trace) {
  trace->time_ms.push_back(time_ms);
  for (size_t k = 0; k < io.inputs.size(); ++k) {
    trace->channels[k].values.push_back(static_cast<double>(inputs[k]));
  }
  for (size_t k = 0; k < io.outputs.size(); ++k) {
    trace->channels[io.inputs.size() + k].values.push_back(static_cast<double>(outputs[k]));
  }
}

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
  if (timing.count > 0) {
    // From the end of the first step, whose opening pause is no step's, to
    // the end of the last.
    const double span_ms = trace.time_ms.back() + step_ms.back() - trace.time_ms.front() - init_ms;
    const std::string rate = RateText(timing.count, span_ms, timing.median_ms, line.period_ms);
    if (!rate.empty()) printf("rate            %s\n", rate.c_str());
  }
  if (trace.time_ms.empty()) {
    printf("outputs at the end: none, as no step finished\n");
    return;
  }
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

}  // namespace blockhost
