// What `blockhost run` tells on stderr as it goes: the notes before the
// first step, the progress line a terminal shows, a board that stops or
// starts answering, and what went wrong, with the command that looks into
// it.  The summary and the files are run_results.h's.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "block_settings.h"
#include "command_line.h"
#include "step_timing.h"

namespace blockhost {

// Says before the first step when the link cannot keep up with the period,
// and which line speed would.
void TellTiming(const CommandLine& line, const BlockSettings& s, const LinkLoad& load);

// The messages of one run.  A message in the middle of the run first ends
// the progress line, so that it starts on a line of its own.
class RunMessages {
 public:
  using Clock = std::chrono::steady_clock;

  // `progress`: stderr is a terminal, which shows a progress line; `start`
  // is when the run began.
  RunMessages(const CommandLine& line, const BlockSettings& settings, const LinkLoad& load,
              bool progress, Clock::time_point start);

  bool progress() const { return progress_; }

  // Before the first step over a serial link: the port's opening restarts
  // the board, which the first step waits for.
  void TellOpening() const;

  // The progress line after `step` (from 0), at most every so often and
  // always after the last step; nothing once a stop was requested.
  void ShowProgress(long step, Clock::time_point step_end, double time_ms, double took_ms);
  void EndProgressLine();
  // After the steps: the progress line stays, ended, where an error is told
  // below it, and is cleared otherwise.
  void CloseProgressLine(bool keep);

  // A board that answers nothing is worth hearing about before a long run
  // has waited out every step, and so is one that comes back.  `change` is
  // what the step `step` (from 0), which took `took_ms`, made of the
  // silence.
  void TellSilenceChange(SilenceLog::Change change, long step, double took_ms);

  // The watch's: the first call that waits out its limit, and every beat of
  // the call of step `step` (from 1) while it goes on waiting.
  void TellNoReply();
  void TellStillWaiting(long step, Clock::duration took);

  // After the run: every stretch without an answer, where it began and
  // ended.
  void TellSilentStretches(const std::vector<SilentStretch>& stretches, size_t steps_done) const;

  // The library's message as it is; an empty reply in it is a board that
  // did not answer, and the analog input, if it is known, says where.
  void ReportLibraryError(const std::string& library_error,
                          std::optional<int> unanswered_analog) const;

 private:
  const CommandLine& line_;
  const BlockSettings& settings_;
  const LinkLoad& load_;
  const bool progress_;
  bool progress_shown_ = false;
  long last_beat_step_ = 0;  // the step whose wait was last told
  Clock::time_point last_progress_;
};

}  // namespace blockhost
