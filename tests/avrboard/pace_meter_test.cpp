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

// One look of the loop at the clocks, in milliseconds since the start.
struct Look {
  double wall_ms;
  double chip_ms;
  bool resumed = false;
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
  PaceMeter meter(kClockHz);
  for (const Look& look : GetParam().looks) {
    meter.Observe(Cycles(look.wall_ms), Cycles(look.chip_ms), look.resumed);
  }
  const Look& last = GetParam().looks.back();
  const PaceReport report = meter.TakeReport(Cycles(last.wall_ms), Cycles(last.chip_ms));
  EXPECT_NEAR(report.most_behind_ms, GetParam().most_behind_ms, 0.01);
  EXPECT_NEAR(report.behind_ms, GetParam().behind_ms, 0.01);
  EXPECT_NEAR(report.stopped_ms, GetParam().stopped_ms, 0.01);
  EXPECT_NEAR(report.chip_ms, last.chip_ms, 0.01);
  EXPECT_NEAR(report.wall_ms, last.wall_ms, 0.01);
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
        // Stopped for 2.5 s and continued: the lag the stop left is no
        // starvation, while the chip catches up or not.
        PaceCase{"StoppedThenCaughtUp",
                 {{1, 0.5}, {2501, 1, true}, {2502, 1000}, {2503, 2502.5}},
                 0.5,
                 0,
                 2500},
        PaceCase{
            "StoppedAndNotYetCaughtUp", {{1, 0.5}, {2501, 1, true}, {2600, 1500}}, 0.5, 0, 2500},
        // Starved while it caught up with a stop: only the lag beyond the
        // stop's counts.
        PaceCase{"StarvedWhileCatchingUp",
                 {{1, 0.5}, {2501, 1, true}, {2800, 100}, {2900, 2899.5}},
                 200,
                 0,
                 2500},
        // A stop excuses only what is left of the lag it left: once the
        // chip caught up to its usual half a millisecond, a later lag
        // counts but for that.
        PaceCase{"StarvedAfterCatchingUpWithAStop",
                 {{1, 0.5}, {2501, 1, true}, {2600, 2599.5}, {2800, 2600}},
                 199.5,
                 199.5,
                 2500},
        // A continue without a stop before it (kill -CONT) excuses nothing
        // beyond the time since the last look.
        PaceCase{"ContinuedWithoutAStop", {{1, 0.5}, {1.5, 1, true}, {200, 1.5}}, 198, 198, 0.5}),
    [](const ::testing::TestParamInfo<PaceCase>& row) { return row.param.name; });

// A stretch begins with the lag the chip has at the report that starts it,
// so that a test bracketing a stretch of its own sees a lag it began in.
TEST(PaceMeterStretchTest, NextStretchStartsWithTheLagAtTheReport) {
  PaceMeter meter(kClockHz);
  meter.Observe(Cycles(400), Cycles(250), false);
  EXPECT_NEAR(meter.TakeReport(Cycles(400), Cycles(250)).most_behind_ms, 150, 0.01);
  meter.Observe(Cycles(401), Cycles(400.5), false);
  const PaceReport second = meter.TakeReport(Cycles(402), Cycles(401.5));
  EXPECT_NEAR(second.most_behind_ms, 150, 0.01);
  EXPECT_NEAR(second.behind_ms, 0.5, 0.01);
  meter.Observe(Cycles(403), Cycles(402.5), false);
  EXPECT_NEAR(meter.TakeReport(Cycles(403), Cycles(402.5)).most_behind_ms, 0.5, 0.01)
      << "the lag of an earlier stretch is gone";
  EXPECT_NEAR(meter.most_behind_ms(), 150, 0.01) << "the run's most stays";
}

TEST(PaceMeterStretchTest, StoppedTimeCountsOnceAndRunsUpOverTheRun) {
  PaceMeter meter(kClockHz);
  meter.Observe(Cycles(1), Cycles(0.5), false);
  meter.Observe(Cycles(1001), Cycles(1), true);
  EXPECT_NEAR(meter.TakeReport(Cycles(1001), Cycles(1)).stopped_ms, 1000, 0.01);
  meter.Observe(Cycles(1002), Cycles(1001.5), false);
  EXPECT_NEAR(meter.TakeReport(Cycles(1002), Cycles(1001.5)).stopped_ms, 0, 0.01);
  meter.Observe(Cycles(1502), Cycles(1001.5), true);
  EXPECT_NEAR(meter.stopped_ms(), 1500, 0.01);
  EXPECT_NEAR(meter.most_behind_ms(), 0.5, 0.01);
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
