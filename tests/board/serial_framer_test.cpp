// The serial framer's resynchronisation rules, fed byte by byte as the
// board's UART would.
#include "serial_framer.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace {

// Bytes that arrive together, at one moment.
struct Burst {
  std::string bytes;
  uint32_t at_ms;
};

struct FramerCase {
  std::string name;
  std::vector<Burst> bursts;
  std::vector<std::string> commands;
  uint32_t dropped;
  uint16_t stale_ms = board::SerialFramer::kDefaultStaleMs;
};

void PrintTo(const FramerCase& c, std::ostream* os) { *os << c.name; }

class SerialFramerTest : public testing::TestWithParam<FramerCase> {};

TEST_P(SerialFramerTest, FramesCommands) {
  board::SerialFramer framer(GetParam().stale_ms);
  std::vector<std::string> commands;
  for (const Burst& burst : GetParam().bursts) {
    for (const char byte : burst.bytes) {
      if (framer.Feed(byte, burst.at_ms)) {
        commands.emplace_back(framer.command(), framer.length());
      }
    }
  }
  EXPECT_EQ(commands, GetParam().commands);
  EXPECT_EQ(framer.dropped(), GetParam().dropped);
}

const std::string kNul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Resynchronisation, SerialFramerTest,
    testing::Values(
        FramerCase{"BackToBack",
                   {{"!06mo!06s1?02s?pwm05w0512", 0}},
                   {"!06mo", "!06s1", "?02s?", "pwm05", "w0512"},
                   0},
        FramerCase{"OneByteAtATime", {{"!0", 0}, {"6", 5}, {"m", 10}, {"o", 15}}, {"!06mo"}, 0},
        FramerCase{
            "NoiseBeforeCommandDropped", {{"\r\n" + kNul + "\xff zz?02s?", 0}}, {"?02s?"}, 7},
        FramerCase{
            "LineEndsBetweenCommandsDropped", {{"!03mi\r\n?03s?\r\n", 0}}, {"!03mi", "?03s?"}, 4},
        // Rule 3: non-start bytes inside a command are kept, so the bad
        // command still gets a reply and the next one frames cleanly.
        FramerCase{"MalformedCommandStillFramed", {{"!03zz?03s?", 0}}, {"!03zz", "?03s?"}, 0},
        // Rule 2: a start byte that no command can have there cuts the
        // command short.
        FramerCase{"StrayStartByteCutsCommandShort", {{"w?02s?", 0}}, {"w", "?02s?"}, 0},
        FramerCase{"LostTailRecoversAtNextCommand", {{"!06m!06s1", 0}}, {"!06m", "!06s1"}, 0},
        FramerCase{"QuestionMarkEndsRead", {{"??02s?", 0}}, {"?", "?02s?"}, 0},
        FramerCase{"WAllowedOnlyInPwm", {{"pwm09pw", 0}, {"m03", 1}}, {"pwm09", "pwm03"}, 0},
        FramerCase{"WInsideWriteCuts", {{"w05w0512", 0}}, {"w05", "w0512"}, 0},
        // Rule 4: a partial command left alone too long is forgotten.
        FramerCase{"StalePartialAbandoned", {{"!03", 0}, {"?02s?", 1000}}, {"?02s?"}, 3},
        FramerCase{"StaleNonStartByteAlsoDropped", {{"!03", 0}, {"mi", 1000}}, {}, 5},
        FramerCase{"SlowButNotStale", {{"!03", 0}, {"mi", 249}}, {"!03mi"}, 0},
        FramerCase{"ClockWrapIsNotAGap", {{"!03", 0xFFFFFFF0u}, {"mi", 0x00000010u}}, {"!03mi"}, 0},
        FramerCase{"StaleRuleCanBeTurnedOff", {{"!03", 0}, {"mi", 100000}}, {"!03mi"}, 0, 0}),
    [](const testing::TestParamInfo<FramerCase>& param_info) { return param_info.param.name; });

TEST(SerialFramer, ResetForgetsPartialCommand) {
  board::SerialFramer framer;
  for (const char byte : std::string("!03")) EXPECT_FALSE(framer.Feed(byte, 0));
  framer.Reset();
  std::vector<std::string> commands;
  for (const char byte : std::string("?02s?")) {
    if (framer.Feed(byte, 1)) commands.emplace_back(framer.command(), framer.length());
  }
  EXPECT_EQ(commands, std::vector<std::string>{"?02s?"});
}

// The pin an analog read names is known after its third byte, and only
// then; a digital read, a write, a pin outside A0..A5 or a start byte cut
// short name none.  Fed as "?NN" then the rest, one call after each byte.
TEST(SerialFramer, NamesTheAnalogInputOfAReadOnceItsPinFieldIsIn) {
  const struct {
    std::string bytes;
    std::vector<uint8_t> ahead;  // AnalogReadAhead() after each byte
  } cases[] = {
      {"?14s?", {0, 0, 14, 0, 0}},
      {"?19s?", {0, 0, 19, 0, 0}},
      {"?09s?", {0, 0, 0, 0, 0}},           // a digital pin
      {"?20s?", {0, 0, 0, 0, 0}},           // past A5
      {"!14s1", {0, 0, 0, 0, 0}},           // not a read
      {"?1?15s?", {0, 0, 0, 0, 15, 0, 0}},  // the stray '?' begins the read of A1
      {"?1a", {0, 0, 0}},
  };
  for (const auto& c : cases) {
    board::SerialFramer framer;
    std::vector<uint8_t> ahead;
    for (const char byte : c.bytes) {
      framer.Feed(byte, 0);
      ahead.push_back(framer.AnalogReadAhead());
    }
    EXPECT_EQ(ahead, c.ahead) << c.bytes;
  }
}

}  // namespace
