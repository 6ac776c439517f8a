// The durations of a run's steps, summarised as minimum, median and maximum,
// and what the settings let blockhost expect of them: how many exchanges a
// step makes, how long the link needs for them, and how long they take when
// the board answers none of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "block_settings.h"
#include "tool_api/link_waits.h"

namespace blockhost {

struct TimingSummary {
  size_t count = 0;
  double min_ms = 0.0;
  double median_ms = 0.0;  // the mean of the middle two for an even count
  double max_ms = 0.0;
};

TimingSummary Summarise(std::vector<double> durations_ms);

// What a run's summary says of its rate: `steps` steps in `span_ms`, their
// median `median_ms`, with a period of `period_ms` (0: steps back to back).
// Says what the steps alone would allow where the period held them back;
// empty when there is no rate to tell.
std::string RateText(size_t steps, double span_ms, double median_ms, double period_ms);

// How long the block waits for each reply, and pauses after opening a serial
// port: the library's own numbers, which it does not export (a host learns
// them only by waiting), linked in here from its sources.
constexpr double kUdpReplyWaitMs = arduino::kUdpReplyWaitMs;
constexpr double kSerialReplyWaitMs = arduino::kSerialReplyWaitMs;
constexpr double kSerialOpenPauseMs = arduino::kSerialOpenPauseMs;

// What the block's exchanges with the board cost under some settings.
struct LinkLoad {
  int step_exchanges = 0;      // per SimulateDLL: one per pin in use, two per PWM pin
  int mode_exchanges = 0;      // InitSimulationDLL's pin modes, before its own step
  int step_bytes = 0;          // commands and the longest replies of a step, on a serial line
  double reply_wait_ms = 0.0;  // how long each exchange waits for a board that stays silent
  double open_pause_ms = 0.0;  // the first step's pause after opening the port
  // A step with a board that answers at once: the bytes on the line and the
  // firmware's turnaround over serial, a small round trip per exchange over
  // UDP.  A lower bound; a USB bridge adds about a millisecond per exchange.
  double answered_step_ms = 0.0;
  // A step in which every exchange waits in full.
  double silent_step_ms() const { return step_exchanges * reply_wait_ms; }
};

LinkLoad LoadOf(const BlockSettings& settings);

// Whether a timed step took about as long as all of its exchanges waiting in
// full, as it does when the board answers none of them.
bool StepLooksSilent(const LinkLoad& load, double step_ms);
// The same for the first step, whose pin modes wait too and whose open pause
// is no wait for a reply.
bool FirstStepLooksSilent(const LinkLoad& load, double first_step_ms);

// Steps numbered from 1 (the first step, InitSimulationDLL's, is 1) in a row
// in which every exchange waited out its limit.
struct SilentStretch {
  long first_step = 0;
  long last_step = 0;
};

// The silent stretches of a run, step by step.  A board lost late in a run
// shows only here: the steps before make the typical step look fine.
class SilenceLog {
 public:
  explicit SilenceLog(const LinkLoad& load) : load_(load) {}
  // Takes the next step's duration; says whether a stretch began or ended
  // with it.
  enum class Change { kNone, kBegan, kEnded };
  Change Record(double took_ms);
  const std::vector<SilentStretch>& stretches() const { return stretches_; }

 private:
  LinkLoad load_;
  long steps_ = 0;
  bool in_stretch_ = false;
  std::vector<SilentStretch> stretches_;
};

// The period `run` takes when none is given: the usual 50 ms, or the first
// round period that leaves room for a step whose board answers (a USB
// bridge adds about a millisecond per exchange to the estimate).
constexpr double kUsualPeriodMs = 50.0;
double DefaultPeriodMs(const LinkLoad& load);

// The slowest of those speeds, faster than the settings' own, at which a
// step fits into `period_ms`; nothing over UDP or when none is fast enough.
std::optional<int> SpeedThatFits(const BlockSettings& settings, double period_ms);

}  // namespace blockhost
