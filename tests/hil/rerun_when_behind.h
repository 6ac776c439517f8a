// A case against a board that runs in real time, run once more when it
// failed while its board fell behind the wall clock.  A machine too busy to
// simulate the board makes its replies late, and the block rightly takes
// them for failures; a second run tells the machine's fault from the
// block's.  A case whose board kept pace fails as it failed and never runs
// again, and a failure is never dropped: the first run's are in the log,
// and a case that fails twice while its board fell behind says so in its
// failure.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace arduino::hil {

struct CaseRun {
  std::string name;  // for the log
  std::function<void()> body;
  // The most the board fell behind the wall clock over the run of the body
  // that just ended; nothing when that is not known.
  std::function<std::optional<double>()> fell_behind_ms;
  // Readies a fresh run after a failed one.
  std::function<void()> restart;
  // A board that fell behind by more than this is taken to have fallen
  // behind.
  double threshold_ms = 0;
  std::ostream* log = nullptr;
};

void RunOnceMoreWhenBehind(const CaseRun& run);

}  // namespace arduino::hil
