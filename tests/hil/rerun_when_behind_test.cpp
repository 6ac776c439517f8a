// When a case against a real-time board runs once more, and what its
// failures then say: a body that fails on cue, with the board's lag given
// by hand for each run.
#include "rerun_when_behind.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace arduino::hil {
namespace {

constexpr double kThresholdMs = 25;

struct Run {
  bool fails;
  std::optional<double> behind_ms;
};

struct RerunCase {
  const char* name;
  std::vector<Run> runs;  // what each run may do; only the runs made count
  int runs_made;
  // A part of each failure reported, in order.
  std::vector<std::string> failures;
};

// Runs the case's body as the rows do, and takes what it reports.
struct Outcome {
  int runs = 0;
  int restarts = 0;
  std::string log;
  ::testing::TestPartResultArray results;
};
void RunCase(const std::vector<Run>& runs, Outcome* outcome) {
  std::ostringstream log;
  CaseRun run{
      .name = "Case",
      .body =
          [&] {
            const int made = ++outcome->runs;
            if (runs[made - 1].fails) ADD_FAILURE() << "reply " << made << " came late";
          },
      .fell_behind_ms = [&] { return runs[outcome->runs - 1].behind_ms; },
      .restart = [&] { ++outcome->restarts; },
      .threshold_ms = kThresholdMs,
      .log = &log,
  };
  {
    const ::testing::ScopedFakeTestPartResultReporter taken(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
        &outcome->results);
    RunOnceMoreWhenBehind(run);
  }
  outcome->log = log.str();
}

class RerunWhenBehindTest : public ::testing::TestWithParam<RerunCase> {};

TEST_P(RerunWhenBehindTest, RunsAgainOnlyAFailureOfABoardThatFellBehind) {
  Outcome outcome;
  RunCase(GetParam().runs, &outcome);
  EXPECT_EQ(outcome.runs, GetParam().runs_made);
  EXPECT_EQ(outcome.restarts, GetParam().runs_made - 1);
  const bool rerun = GetParam().runs_made > 1;
  EXPECT_EQ(
      outcome.log.find("[ RERUN    ] Case: the simulated board fell behind the wall clock by " +
                       std::to_string(static_cast<int>(*GetParam().runs[0].behind_ms)) +
                       " ms while it failed") == 0,
      rerun)
      << outcome.log;
  if (rerun) {
    EXPECT_NE(outcome.log.find("reply 1 came late"), std::string::npos)
        << "the first run's failure is in the log\n"
        << outcome.log;
  }
  ASSERT_EQ(outcome.results.size(), static_cast<int>(GetParam().failures.size()));
  for (int i = 0; i < outcome.results.size(); ++i) {
    const ::testing::TestPartResult& result = outcome.results.GetTestPartResult(i);
    EXPECT_TRUE(result.nonfatally_failed()) << result.message();
    EXPECT_NE(std::string(result.message()).find(GetParam().failures[i]), std::string::npos)
        << result.message();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RerunWhenBehindTest,
    ::testing::Values(
        RerunCase{"PassedKeepingPace", {{false, 3}}, 1, {}},
        RerunCase{"PassedBehind", {{false, 500}}, 1, {}},
        RerunCase{"FailedKeepingPace", {{true, 3}, {false, 3}}, 1, {"reply 1 came late"}},
        RerunCase{"FailedJustAtTheThreshold",
                  {{true, kThresholdMs}, {false, 3}},
                  1,
                  {"reply 1 came late"}},
        RerunCase{"FailedBehindThenPassed", {{true, 80}, {false, 3}}, 2, {}},
        RerunCase{"FailedBehindTwice",
                  {{true, 80}, {true, 120}},
                  2,
                  {"reply 2 came late",
                   "the simulated board fell behind the wall clock by 120 ms (in the first run "
                   "by 80 ms)"}},
        RerunCase{"FailedBehindThenKeepingPace", {{true, 80}, {true, 3}}, 2, {"reply 2 came late"}},
        RerunCase{"FailedWithoutAWordOnThePace",
                  {{true, std::nullopt}},
                  1,
                  {"reply 1 came late", "avrboard did not say how its chip kept pace"}}),
    [](const ::testing::TestParamInfo<RerunCase>& row) { return row.param.name; });

// A first run's failures that stand are reported as they were: a fatal one
// stays fatal, with its place in the source, and a skip stays a skip.
TEST(RerunWhenBehindReplayTest, FailuresThatStandKeepTheirKindAndPlace) {
  ::testing::TestPartResultArray results;
  int failed_line = 0;
  {
    const ::testing::ScopedFakeTestPartResultReporter taken(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    RunOnceMoreWhenBehind({
        .name = "Fatal",
        .body = [&] { failed_line = __LINE__, [] { FAIL() << "no reply"; }(); },
        .fell_behind_ms = [] { return 3.0; },
        .restart = [] {},
        .threshold_ms = kThresholdMs,
        .log = nullptr,
    });
    RunOnceMoreWhenBehind({
        .name = "Skipped",
        .body = [] { GTEST_SKIP() << "no avrdude"; },
        .fell_behind_ms = [] { return 500.0; },
        .restart = [] {},
        .threshold_ms = kThresholdMs,
        .log = nullptr,
    });
  }
  ASSERT_EQ(results.size(), 2);
  EXPECT_TRUE(results.GetTestPartResult(0).fatally_failed());
  EXPECT_EQ(results.GetTestPartResult(0).line_number(), failed_line);
  EXPECT_STREQ(results.GetTestPartResult(0).file_name(), __FILE__);
  EXPECT_NE(std::string(results.GetTestPartResult(0).message()).find("no reply"),
            std::string::npos);
  EXPECT_TRUE(results.GetTestPartResult(1).skipped());
  EXPECT_NE(std::string(results.GetTestPartResult(1).message()).find("no avrdude"),
            std::string::npos);
}

}  // namespace
}  // namespace arduino::hil
