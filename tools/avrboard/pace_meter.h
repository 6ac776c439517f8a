// How well the chip kept pace with the wall clock, for the people and the
// tests that read avrboard's stderr.  The loop looks at both clocks once a
// pass; a chip the machine starves trails the wall clock by more and more,
// and catches up once it gets the CPU again.  A process stopped by a signal
// (SIGSTOP, as a test does to make the board answer late, or Ctrl-Z) would
// trail it too, by the whole stop, but that is a pause somebody chose, not
// a machine too busy to simulate: avrboard sets its wall clock back by the
// stop instead, so that the chip goes on in step with it rather than running
// faster than real time until it has caught up, and the meter counts the
// stop apart.
//
// On SIGUSR1 avrboard writes one line on stderr,
//
//   avrboard: pace: chip 1234.500 ms, wall 1235.000 ms, behind 0.5 ms,
//   at most 0.9 ms behind since the last report, 0.0 ms stopped
//
// (on one line), so that a test can bracket a stretch of its own between
// two reports and learn how far the chip fell behind over it and how much
// of the chip's time passed.  ParsePaceReport reads it back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace avrboard {

// The figures of one report.  The times are avrboard's since the run
// began, in milliseconds: the chip's, and the wall clock's less the stops.
struct PaceReport {
  double chip_ms = 0;
  double wall_ms = 0;
  // How far the chip trails the wall clock now.
  double behind_ms = 0;
  // The most it trailed since the report before (or the start); the lag at
  // that report counts in it.
  double most_behind_ms = 0;
  // How long the process was stopped since the report before.
  double stopped_ms = 0;
  bool operator==(const PaceReport&) const = default;
};

std::string FormatPaceReport(const PaceReport& report);
// The report a line holds, or nothing for a line that is none.
std::optional<PaceReport> ParsePaceReport(std::string_view line);

// The lag of the chip behind the wall clock, both counted in the chip's
// cycles since the run began.
class PaceMeter {
 public:
  explicit PaceMeter(uint32_t clock_hz) : cycles_per_ms_(clock_hz / 1000.0) {}

  // One look at the clocks.  `resumed` says that the process was stopped
  // since the look before and then continued: what the chip fell behind
  // since then is the stop, which the result gives.  The caller sets its
  // wall clock back by that much, and the meter takes the lag to be what it
  // was before the stop.
  uint64_t Observe(uint64_t wall_cycle, uint64_t chip_cycle, bool resumed);

  // The report on the time since the last one, which starts a new stretch.
  PaceReport TakeReport(uint64_t wall_cycle, uint64_t chip_cycle);

  // Over the whole run.
  double most_behind_ms() const { return most_behind_ / cycles_per_ms_; }
  double stopped_ms() const { return stopped_ / cycles_per_ms_; }

 private:
  double cycles_per_ms_;
  uint64_t last_behind_ = 0;
  uint64_t most_behind_ = 0;
  uint64_t stretch_most_behind_ = 0;
  uint64_t stopped_ = 0;
  uint64_t stretch_stopped_ = 0;
};

}  // namespace avrboard
