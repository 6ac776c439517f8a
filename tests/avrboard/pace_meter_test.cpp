// The pace meter against clocks given by hand: what counts as the chip
// falling behind, what a stop leaves out, and the report line both ways.
#include "pace_meter.h"

#include <gtest/gtest.h>

#include <vector>

#include "board_layout.h"

namespace avrboard {
namespace {

constexpr uint64_t kCyclesPerMs = kClockHz / 1000;

uint64_t Cycles(double ms) { return static_cast<uint64_t>(ms * kCyclesPerMs); }

// One look of the loop at the clocks, in milliseconds since the start; the
// wall clock as the machine's clock has it, before avrboard sets it back.
struct Look {
  double wall_ms;
  double chip_ms;
  bool resumed = false;
};

// The meter as the session drives it: each stop it reports sets the wall
// clock of the looks after it back.
class Session {
 public:
  void See(const Look& look) {
    set_back_ += meter_.Observe(Wall(look), Cycles(look.chip_ms), look.resumed);
  }
  PaceReport Report(const Look& look) {
    return meter_.TakeReport(Wall(look), Cycles(look.chip_ms));
  }
  const PaceMeter& meter() const { return meter_; }

 private:
  uint64_t Wall(const Look& look) const { return Cycles(look.wall_ms) - set_back_; }
  PaceMeter meter_{kClockHz};
  uint64_t set_back_ = 0;
};

struct PaceCase {
  const char* name;
  std::vector<Look> looks;
  // The report taken after the looks, at the last look's clocks.
  double most_behind_ms;
  double behind_ms;
  double stopped_ms;
};

class PaceMeterTest : public ::testing::TestWithParam<PaceCase> {};

TEST_P(PaceMeterTest, ReportsTheLagOverTheStretch) {
  Session session;
  for (const Look& look : GetParam().looks) session.See(look);
  const Look& last = GetParam().looks.back();
  const PaceReport report = session.Report(last);
  EXPECT_NEAR(report.most_behind_ms, GetParam().most_behind_ms, 0.01);
  EXPECT_NEAR(report.behind_ms, GetParam().behind_ms, 0.01);
  EXPECT_NEAR(report.stopped_ms, GetParam().stopped_ms, 0.01);
  EXPECT_NEAR(report.chip_ms, last.chip_ms, 0.01);
  EXPECT_NEAR(report.wall_ms, last.wall_ms - GetParam().stopped_ms, 0.01)
      << "the wall clock is set back by the stops";
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, PaceMeterTest,
    ::testing::Values(
        // Each pass wakes a slice after the chip's time, and the chip is
        // half a millisecond behind when it does.
        PaceCase{"KeepingPace", {{0.5, 0}, {1.0, 0.5}, {1.6, 1.0}, {2.0, 1.6}}, 0.6, 0.4, 0},
        // The machine gave the chip no time for 300 ms; it caught up after.
        PaceCase{"Starved", {{1, 0.5}, {301, 1}, {302, 150}, {303, 302.5}}, 300, 0.5, 0},
        // A chip that never catches up is behind at the report too.
        PaceCase{"StillBehind", {{100, 80}, {200, 150}}, 50, 50, 0},
        // Stopped for 2.5 s and continued: the chip goes on from where it
        // was, as far behind as before the stop.
        PaceCase{"Stopped", {{1, 0.5}, {2501, 1, true}, {2502, 2}}, 0.5, 0.5, 2499.5},
        // A lag after the stop counts in full.
        PaceCase{"StarvedAfterAStop", {{1, 0.5}, {2501, 1, true}, {2701, 2}}, 199.5, 199.5, 2499.5},
        // So does one that the chip had when it was stopped.
        PaceCase{"StarvedBeforeAStop",
                 {{1, 0.5}, {101, 1}, {2601, 1.5, true}, {2700, 199.5}},
                 100,
                 1,
                 2499.5},
        // A continue without a stop before it (kill -CONT) excuses nothing.
        PaceCase{"ContinuedWithoutAStop", {{1, 0.5}, {1.5, 1, true}, {200, 1.5}}, 198.5, 198.5, 0}),
    [](const ::testing::TestParamInfo<PaceCase>& row) { return row.param.name; });

// A stretch begins with the lag the chip has at the report that starts it,
// so that a test bracketing a stretch of its own sees a lag it began in.
TEST(PaceMeterStretchTest, NextStretchStartsWithTheLagAtTheReport) {
  Session session;
  session.See({400, 250});
  EXPECT_NEAR(session.Report({400, 250}).most_behind_ms, 150, 0.01);
  session.See({401, 400.5});
  const PaceReport second = session.Report({402, 401.5});
  EXPECT_NEAR(second.most_behind_ms, 150, 0.01);
  EXPECT_NEAR(second.behind_ms, 0.5, 0.01);
  session.See({403, 402.5});
  EXPECT_NEAR(session.Report({403, 402.5}).most_behind_ms, 0.5, 0.01)
      << "the lag of an earlier stretch is gone";
  EXPECT_NEAR(session.meter().most_behind_ms(), 150, 0.01) << "the run's most stays";
}

TEST(PaceMeterStretchTest, EachStopCountsInItsStretchAndInTheRun) {
  Session session;
  session.See({1, 0.5});
  session.See({1001, 1, true});
  EXPECT_NEAR(session.Report({1001, 1}).stopped_ms, 999.5, 0.01);
  session.See({1002, 2});
  EXPECT_NEAR(session.Report({1002, 2}).stopped_ms, 0, 0.01);
  session.See({1502, 2, true});
  EXPECT_NEAR(session.meter().stopped_ms(), 1499.5, 0.01);
  EXPECT_NEAR(session.meter().most_behind_ms(), 0.5, 0.01);
}

TEST(PaceReportTest, LineReadsBackAsWritten) {
  const PaceReport report{1234.5, 1235.0, 0.5, 812.3, 2500.0};
  const std::string line = FormatPaceReport(report);
  EXPECT_EQ(line,
            "avrboard: pace: chip 1234.500 ms, wall 1235.000 ms, behind 0.5 ms, at most 812.3 ms "
            "behind since the last report, 2500.0 ms stopped");
  EXPECT_EQ(ParsePaceReport(line), report);
  EXPECT_EQ(ParsePaceReport(line + "\n"), report) << "with its line end";
}

TEST(PaceReportTest, OtherLinesAreNoReport) {
  const std::string line = FormatPaceReport(PaceReport{1, 2, 3, 4, 5});
  for (const std::string& other : {
           std::string(""),
           std::string("avrboard: stopped; simulated 27.927 s in 27.927 s, at most 2512.1 ms "
                       "behind the wall clock, unpaced speed 1.6x real time"),
           line.substr(0, line.size() - 10),
           line + " and more",
           std::string("avrboard: pace: chip x ms"),
       }) {
    EXPECT_EQ(ParsePaceReport(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace avrboard
