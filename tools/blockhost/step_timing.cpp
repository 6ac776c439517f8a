#include "step_timing.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "tool_api/setting_rules.h"

namespace blockhost {
namespace {

using arduino::pmDigitalInput;
using arduino::pmDigitalOutput;
using arduino::pmPWMOutput;

// The replies of the board protocol.
constexpr int kCommandBytes = 5;      // "?02s?", "!06s1", "pwm09", "w0512"
constexpr int kLevelReplyBytes = 6;   // "HIGH" with CR LF
constexpr int kOkReplyBytes = 4;      // "OK" with CR LF
constexpr int kAnalogReplyBytes = 6;  // up to four digits with CR LF
constexpr int kBitsPerByte = 10;      // 8N1: a start and a stop bit

// The firmware's own time from a command to its reply, as measured in
// avrboard: an analog read includes the conversion.
constexpr double kDigitalTurnaroundMs = 0.06;
constexpr double kAnalogTurnaroundMs = 0.2;
// A round trip to an Ethernet board on a LAN.
constexpr double kUdpExchangeMs = 1.0;

// The step's exchanges, their bytes on a serial line and the firmware's
// turnaround for them.
struct StepWork {
  int exchanges = 0;
  int bytes = 0;
  double turnaround_ms = 0.0;
};

StepWork WorkOf(const BlockSettings& settings) {
  StepWork work;
  for (int mode : settings.pin_mode) {
    if (mode == pmDigitalInput) {
      work.exchanges += 1;
      work.bytes += kCommandBytes + kLevelReplyBytes;
    } else if (mode == pmDigitalOutput) {
      work.exchanges += 1;
      work.bytes += kCommandBytes + kOkReplyBytes;
    } else if (mode == pmPWMOutput) {
      // The pin is selected, then its level written.
      work.exchanges += 2;
      work.bytes += 2 * (kCommandBytes + kOkReplyBytes);
    }
  }
  work.turnaround_ms = work.exchanges * kDigitalTurnaroundMs;
  for (int used : settings.analog_used) {
    if (used <= 0) continue;
    work.exchanges += 1;
    work.bytes += kCommandBytes + kAnalogReplyBytes;
    work.turnaround_ms += kAnalogTurnaroundMs;
  }
  return work;
}

double AnsweredStepMs(const BlockSettings& settings, int baud_rate) {
  const StepWork work = WorkOf(settings);
  if (!settings.OverSerial()) return work.exchanges * kUdpExchangeMs;
  if (baud_rate <= 0) return 0.0;
  return work.bytes * kBitsPerByte * 1000.0 / baud_rate + work.turnaround_ms;
}

}  // namespace

TimingSummary Summarise(std::vector<double> durations_ms) {
  TimingSummary summary;
  summary.count = durations_ms.size();
  if (durations_ms.empty()) return summary;
  std::sort(durations_ms.begin(), durations_ms.end());
  const size_t n = durations_ms.size();
  summary.min_ms = durations_ms.front();
  summary.max_ms = durations_ms.back();
  summary.median_ms =
      n % 2 == 1 ? durations_ms[n / 2] : (durations_ms[n / 2 - 1] + durations_ms[n / 2]) / 2.0;
  return summary;
}

std::string RateText(size_t steps, double span_ms, double median_ms, double period_ms) {
  if (steps == 0 || span_ms <= 0.0) return "";
  char text[200];
  const int written = snprintf(text, sizeof text, "%.1f steps a second",
                               static_cast<double>(steps) * 1000.0 / span_ms);
  std::string rate(text, static_cast<size_t>(written));
  if (period_ms <= 0.0) return rate + ", as fast as the link goes";
  if (median_ms <= 0.0 || median_ms >= period_ms) return rate + ", held back by the board";
  snprintf(text, sizeof text,
           ", held to the period; the board's steps (median %.2f ms) would allow about %.0f a "
           "second with --period-ms 0",
           median_ms, 1000.0 / median_ms);
  return rate + text;
}

LinkLoad LoadOf(const BlockSettings& settings) {
  const StepWork work = WorkOf(settings);
  LinkLoad load;
  load.step_exchanges = work.exchanges;
  for (int mode : settings.pin_mode) {
    if (mode == pmDigitalInput || mode == pmDigitalOutput || mode == pmPWMOutput)
      ++load.mode_exchanges;
  }
  for (int used : settings.analog_used) load.mode_exchanges += used > 0 ? 1 : 0;
  load.step_bytes = work.bytes;
  load.reply_wait_ms = settings.OverSerial() ? kSerialReplyWaitMs : kUdpReplyWaitMs;
  load.open_pause_ms = settings.OverSerial() ? kSerialOpenPauseMs : 0.0;
  load.answered_step_ms = AnsweredStepMs(settings, settings.baud_rate);
  return load;
}

// A silent exchange waits its full time and a little more; an answering
// board, even a slow one, keeps a step well below nine tenths of it.
bool StepLooksSilent(const LinkLoad& load, double step_ms) {
  return load.step_exchanges > 0 && step_ms >= 0.9 * load.silent_step_ms();
}

bool FirstStepLooksSilent(const LinkLoad& load, double first_step_ms) {
  if (load.step_exchanges == 0) return false;
  const double waits_ms = (load.mode_exchanges + load.step_exchanges) * load.reply_wait_ms;
  return first_step_ms - load.open_pause_ms >= 0.9 * waits_ms;
}

SilenceLog::Change SilenceLog::Record(double took_ms) {
  ++steps_;
  const bool silent =
      steps_ == 1 ? FirstStepLooksSilent(load_, took_ms) : StepLooksSilent(load_, took_ms);
  if (silent && in_stretch_) {
    stretches_.back().last_step = steps_;
    return Change::kNone;
  }
  if (silent == in_stretch_) return Change::kNone;
  in_stretch_ = silent;
  if (!silent) return Change::kEnded;
  stretches_.push_back({steps_, steps_});
  return Change::kBegan;
}

double DefaultPeriodMs(const LinkLoad& load) {
  constexpr double kRoundPeriodsMs[] = {kUsualPeriodMs, 100, 200, 250, 500, 1000, 2000, 5000};
  constexpr double kBridgeMsPerExchange = 1.0;
  const double needed_ms = load.answered_step_ms + load.step_exchanges * kBridgeMsPerExchange;
  for (double period : kRoundPeriodsMs) {
    if (needed_ms <= period) return period;
  }
  return kRoundPeriodsMs[std::size(kRoundPeriodsMs) - 1];
}

std::optional<int> SpeedThatFits(const BlockSettings& settings, double period_ms) {
  if (!settings.OverSerial()) return std::nullopt;
  for (int speed : arduino::kBaudRates) {
    if (speed > settings.baud_rate && AnsweredStepMs(settings, speed) <= period_ms) return speed;
  }
  return std::nullopt;
}

}  // namespace blockhost
