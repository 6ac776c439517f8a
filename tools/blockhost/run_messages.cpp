#include "run_messages.h"

#include <cstdio>

#include "check_outcome.h"
#include "link_text.h"
#include "stop_request.h"
#include "tool_api/setting_rules.h"

namespace blockhost {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// The command that tests this project's link.
std::string CheckCommandFor(const CommandLine& line) { return CommandWithProject("check", line); }

void HintCheck(const CommandLine& line) {
  fprintf(stderr, "blockhost: `%s` tests the link and says what to look at\n",
          CheckCommandFor(line).c_str());
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

}  // namespace

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

RunMessages::RunMessages(const CommandLine& line, const BlockSettings& settings,
                         const LinkLoad& load, bool progress, Clock::time_point start)
    : line_(line), settings_(settings), load_(load), progress_(progress), last_progress_(start) {}

void RunMessages::TellOpening() const {
  fprintf(stderr,
          "blockhost: opening %s; the board restarts, so the first step takes over %.0f s\n",
          SerialLinkText(ComPortName(settings_.com_port), settings_.baud_rate).c_str(),
          load_.open_pause_ms / 1000.0);
}

void RunMessages::ShowProgress(long step, Clock::time_point step_end, double time_ms,
                               double took_ms) {
  if (!progress_ || StopRequested() != 0) return;
  if (step_end - last_progress_ < kProgressInterval && step + 1 != line_.steps) return;
  last_progress_ = step_end;
  progress_shown_ = true;
  fprintf(stderr, "\r\033[Kstep %ld/%ld  %.1f s  last step %.2f ms", step + 1, line_.steps,
          time_ms / 1000.0, took_ms);
}

void RunMessages::EndProgressLine() {
  if (progress_shown_) fputs("\n", stderr);
  progress_shown_ = false;
}

void RunMessages::CloseProgressLine(bool keep) {
  if (progress_shown_) fputs(keep ? "\n" : "\r\033[K", stderr);
  progress_shown_ = false;
}

void RunMessages::TellSilenceChange(SilenceLog::Change change, long step, double took_ms) {
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

void RunMessages::TellNoReply() {
  EndProgressLine();
  fprintf(stderr, "blockhost: %s\n", NoReplyText(line_, settings_).c_str());
}

void RunMessages::TellStillWaiting(long step, Clock::duration took) {
  EndProgressLine();
  fprintf(stderr, "blockhost: step %ld has waited %.0f s for the board so far", step,
          std::chrono::duration<double>(took).count());
  // The first beat of a step says how long it can go on, and what to run.
  if (step != last_beat_step_) {
    last_beat_step_ = step;
    const int exchanges = load_.step_exchanges + (step == 1 ? load_.mode_exchanges : 0);
    const double most_ms = exchanges * load_.reply_wait_ms + (step == 1 ? load_.open_pause_ms : 0);
    fprintf(stderr,
            "; a board that answers none of its %d exchanges keeps it up to %.0f s, and `%s` "
            "finds out why",
            exchanges, most_ms / 1000.0, CheckCommandFor(line_).c_str());
  }
  fputs("\n", stderr);
}

void RunMessages::TellSilentStretches(const std::vector<SilentStretch>& stretches,
                                      size_t steps_done) const {
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
  HintCheck(line_);
}

void RunMessages::ReportLibraryError(const std::string& library_error,
                                     std::optional<int> unanswered_analog) const {
  fprintf(stderr, "blockhost: library error: %s\n", library_error.c_str());
  std::optional<std::string> reply = ReplyOfConversionError(library_error);
  if (!reply || !reply->empty()) return;
  if (unanswered_analog) {
    fprintf(stderr, "blockhost: analog input A%d got no answer from the board\n",
            *unanswered_analog);
  } else {
    fputs("blockhost: a pin got no answer from the board\n", stderr);
  }
  HintCheck(line_);
}

}  // namespace blockhost
