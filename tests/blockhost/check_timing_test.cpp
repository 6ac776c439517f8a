// What `check` says of the round trips it timed, and of a board's USB bridge.
#include "check_timing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "default_settings.h"

namespace blockhost {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CheckTimingTest, TheMedianAndTheNearestRankNinetyFifthPercentile) {
  std::vector<double> forty;
  for (int i = 1; i <= 40; ++i) forty.push_back(i);  // 95 % of 40 is the 38th
  const struct {
    std::vector<double> took_ms;
    size_t count;
    double median, p95;
  } cases[] = {
      {{7.0}, 1, 7.0, 7.0},
      {{4.0, 1.0, 3.0, 2.0}, 4, 2.5, 4.0},
      {forty, 40, 20.5, 38.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    const RoundTrips trips = SummariseRoundTrips(c.took_ms);
    EXPECT_EQ(trips.count, c.count);
    EXPECT_DOUBLE_EQ(trips.median_ms, c.median);
    EXPECT_DOUBLE_EQ(trips.p95_ms, c.p95);
  }
  EXPECT_EQ(RoundTripText(SummariseRoundTrips({1.25, 0.5, 16.0})),
            "round trip over 3 reads: median 1.2 ms, 95th percentile 16.0 ms");
}

// One exchange a pin in use, two a PWM pin, one an analog input in use; the
// step is that many median round trips.
TEST(CheckTimingTest, TheStepIsTheProjectsExchangesAtTheMedianRoundTrip) {
  const BlockSettings defaults = arduino::testing::DefaultFields();
  BlockSettings pwm = defaults;
  pwm.pin_mode.fill(arduino::pmUnused);
  pwm.pin_mode[3 - 2] = arduino::pmPWMOutput;
  pwm.analog_used.fill(0);
  BlockSettings none = pwm;
  none.pin_mode.fill(arduino::pmUnused);
  RoundTrips trips;
  trips.count = 40;
  trips.median_ms = 4.0;
  EXPECT_EQ(StepRateText(defaults, trips),
            "14 exchanges a step, about 56 ms: at most 17 steps a second");
  EXPECT_EQ(StepRateText(pwm, trips),
            "2 exchanges a step, about 8.0 ms: at most 125 steps a second");
  EXPECT_EQ(StepRateText(none, trips), "no pin in use: a step makes no exchange");
}

TEST(CheckTimingTest, KnownBridgesAreNamedWithWhatTheyAdd) {
  const struct {
    uint16_t vendor, product;
    const char* named;
    const char* adds;
  } cases[] = {
      {0x2341, 0x0043, "ATmega16U2 (2341:0043)", "4.096 ms tick"},
      {0x2A03, 0x0042, "ATmega16U2 (2a03:0042)", "4.096 ms tick"},
      {0x0403, 0x6001, "FTDI (0403:6001)", "16 ms unless lowered"},
      {0x1A86, 0x7523, "CH340 (1a86:7523)", "about a USB frame"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const std::vector<std::string> notes = BridgeNotes(c.vendor, c.product);
    ASSERT_GE(notes.size(), 2u);
    EXPECT_TRUE(Contains(notes[0], c.named)) << notes[0];
    EXPECT_TRUE(Contains(notes[1], c.adds)) << notes[1];
    EXPECT_TRUE(Contains(notes[1], "published behaviour, not measured here")) << notes[1];
    EXPECT_TRUE(Contains(notes.back(), "fewer pins")) << notes.back();
  }
  EXPECT_TRUE(BridgeNotes(0x2341, 0x8036).empty()) << "a Leonardo has no bridge";
  EXPECT_TRUE(BridgeNotes(0x1234, 0x5678).empty());
}

}  // namespace
}  // namespace blockhost
