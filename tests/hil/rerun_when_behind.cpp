#include "rerun_when_behind.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace arduino::hil {
namespace {

bool AnyFailed(const ::testing::TestPartResultArray& results) {
  for (int i = 0; i < results.size(); ++i) {
    if (results.GetTestPartResult(i).failed()) return true;
  }
  return false;
}

const char* FileOf(const ::testing::TestPartResult& result) {
  return result.file_name() ? result.file_name() : "?";
}

// Reports what the first run held back, as it was said.
void Replay(const ::testing::TestPartResultArray& results) {
  for (int i = 0; i < results.size(); ++i) {
    const ::testing::TestPartResult& result = results.GetTestPartResult(i);
    if (result.skipped()) {
      [&] { GTEST_SKIP() << result.message(); }();
    } else if (result.fatally_failed()) {
      [&] { GTEST_FAIL_AT(FileOf(result), result.line_number()) << result.message(); }();
    } else if (result.nonfatally_failed()) {
      ADD_FAILURE_AT(FileOf(result), result.line_number()) << result.message();
    }
  }
}

// Runs the body with what it reports held back.  Held, not only looked at
// afterwards: Test::HasFailure would not see failures that a caller's own
// reporter, such as a test of this file, takes.
void RunHeld(const CaseRun& run, ::testing::TestPartResultArray* results) {
  const ::testing::ScopedFakeTestPartResultReporter held(
      ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, results);
  run.body();
}

}  // namespace

void RunOnceMoreWhenBehind(const CaseRun& run) {
  // The first run's failures are held back until its board's pace is known.
  ::testing::TestPartResultArray first;
  RunHeld(run, &first);
  const std::optional<double> behind_ms = run.fell_behind_ms();
  if (!AnyFailed(first) || !behind_ms || *behind_ms <= run.threshold_ms) {
    Replay(first);
    if (AnyFailed(first) && !behind_ms) {
      ADD_FAILURE() << "avrboard did not say how its chip kept pace over this case";
    }
    return;
  }
  *run.log << "[ RERUN    ] " << run.name << ": the simulated board fell behind the wall clock by "
           << *behind_ms
           << " ms while it failed, so it runs once more; the first run's failures:\n";
  for (int i = 0; i < first.size(); ++i) {
    const ::testing::TestPartResult& result = first.GetTestPartResult(i);
    if (result.failed()) {
      *run.log << FileOf(result) << ":" << result.line_number() << ": " << result.message() << "\n";
    }
  }
  run.restart();
  ::testing::TestPartResultArray second;
  RunHeld(run, &second);
  const std::optional<double> again_ms = run.fell_behind_ms();
  Replay(second);
  if (AnyFailed(second) && again_ms && *again_ms > run.threshold_ms) {
    ADD_FAILURE() << "the simulated board fell behind the wall clock by " << *again_ms
                  << " ms (in the first run by " << *behind_ms
                  << " ms): a board that far behind answers late, so the failure may be the "
                     "machine's, too busy to simulate it in real time, rather than the block's";
  }
}

}  // namespace arduino::hil
