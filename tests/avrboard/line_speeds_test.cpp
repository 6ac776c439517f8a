// The terminal's speed against the firmware's: what crosses each way, and
// what avrboard says about it.
#include "line_speeds.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board_layout.h"
#include "serial_wire.h"

namespace avrboard {
namespace {

// Collects what LineSpeeds says, as avrboard's stderr would show it.
class Messages {
 public:
  Messages() : file_(std::tmpfile()) {}
  ~Messages() { std::fclose(file_); }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string all;
    for (int c; (c = std::fgetc(file_)) != EOF;) all += static_cast<char>(c);
    return all;
  }

 private:
  std::FILE* file_;
};

// Cycles a byte takes back to back at `baud` (10 bits).
uint64_t FrameCycles(double baud) { return static_cast<uint64_t>(kClockHz * 10 / baud); }

std::vector<uint64_t> BackToBack(size_t count, uint64_t first, double baud) {
  std::vector<uint64_t> cycles;
  for (size_t i = 0; i < count; ++i) cycles.push_back(first + i * FrameCycles(baud));
  return cycles;
}

struct Rates {
  double firmware;
  double terminal;
  bool garbled;
};

class LineSpeedsRatesTest : public testing::TestWithParam<Rates> {};

TEST_P(LineSpeedsRatesTest, GarblesOnlyWhenBothAreKnownAndDisagree) {
  Messages messages;
  LineSpeeds speeds(messages.file());
  speeds.Update(GetParam().firmware, GetParam().terminal);
  EXPECT_EQ(speeds.garbled(), GetParam().garbled);
  const std::string command = "?14s?";
  if (GetParam().garbled) {
    EXPECT_EQ(speeds.ToFirmware(command), boardsim::AsFirmwareReads(boardsim::ReceiveBurst(
                                              command, GetParam().terminal, GetParam().firmware)));
  } else {
    EXPECT_EQ(speeds.ToFirmware(command), command);
    EXPECT_EQ(speeds.FromFirmware("512\r\n", BackToBack(5, 0, 9600), 0), "512\r\n");
    EXPECT_EQ(messages.text().find("garbles"), std::string::npos) << messages.text();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineSpeedsRatesTest,
    testing::Values(Rates{9600, 9600, false},
                    // A 16 MHz AVR's 115200 is 117647, within a receiver's tolerance.
                    Rates{117647, 115200, false},
                    // Nobody has the port open, or its speed is one avrboard
                    // does not know.
                    Rates{9600, 0, false},
                    // The firmware has not set its UART up yet.
                    Rates{0, 115200, false}, Rates{9600, 115200, true}, Rates{115200, 9600, true},
                    Rates{38400, 19200, true}));

TEST(LineSpeedsTest, SaysEachRateOnceAndEachMismatchOncePerTerminalSpeed) {
  Messages messages;
  LineSpeeds speeds(messages.file());
  speeds.Update(9600, 0);
  speeds.Update(9600, 0);
  EXPECT_EQ(messages.text(), "avrboard: the firmware set UART0 to 9600 baud\n");
  speeds.Update(9600, 115200);
  EXPECT_EQ(messages.text().find("garbles"), std::string::npos)
      << "a mismatch is said only when bytes cross at it";
  (void)speeds.ToFirmware("?14s?");
  (void)speeds.ToFirmware("?07s?");
  speeds.Update(9600, 19200);
  (void)speeds.ToFirmware("?14s?");
  EXPECT_EQ(messages.text(),
            "avrboard: the firmware set UART0 to 9600 baud\n"
            "avrboard: the port is set to 115200 baud but the firmware's UART0 runs at 9600: the "
            "line garbles every byte both ways\n"
            "avrboard: the port is set to 19200 baud but the firmware's UART0 runs at 9600: the "
            "line garbles every byte both ways\n");
}

TEST(LineSpeedsTest, AResetKeepsTheLastRateTheFirmwareSet) {
  Messages messages;
  LineSpeeds speeds(messages.file());
  speeds.Update(9600, 115200);
  // After a reset UART0 is off until Serial.begin; bytes arriving then are
  // still read at the rate the image sets again.
  speeds.Update(0, 115200);
  EXPECT_TRUE(speeds.garbled());
  EXPECT_NE(speeds.ToFirmware("?14s?"), "?14s?");
  speeds.Update(9600, 115200);
  EXPECT_EQ(messages.text().find("UART0 to 9600 baud"), messages.text().rfind("UART0 to 9600 baud"))
      << "the same rate again was said twice: " << messages.text();
}

TEST(LineSpeedsTest, GarbledReplyIsHeldUntilTheLineIsIdleAndReadAsOneStream) {
  Messages messages;
  LineSpeeds speeds(messages.file());
  speeds.Update(9600, 115200);
  const std::string reply = "512\r\n";
  const std::vector<uint64_t> sent = BackToBack(reply.size(), 1000, 9600);
  // The frames are read as they lay on the wire, so two halves handed over
  // apart give what the whole gives.
  EXPECT_EQ(speeds.FromFirmware(reply.substr(0, 2), {sent[0], sent[1]}, sent[1]), "");
  EXPECT_EQ(speeds.FromFirmware(reply.substr(2), {sent[2], sent[3], sent[4]}, sent[4]), "")
      << "a reply still on the wire was handed out";
  std::vector<boardsim::SentFrame> frames;
  for (size_t i = 0; i < reply.size(); ++i) {
    frames.push_back({static_cast<uint8_t>(reply[i]), static_cast<double>(sent[i]) / kClockHz});
  }
  const std::string expected =
      boardsim::AsTerminalReads(boardsim::ReceiveFrames(frames, 9600, 115200));
  const uint64_t idle = sent.back() + FrameCycles(9600) + FrameCycles(115200) + kClockHz / 1000;
  EXPECT_EQ(speeds.FromFirmware("", {}, idle), expected);
  EXPECT_NE(expected, reply);
  EXPECT_EQ(speeds.FromFirmware("", {}, idle + kClockHz), "") << "a held byte came out twice";
}

TEST(LineSpeedsTest, BytesHeldWhileGarbledComeOutWholeOnceTheRatesAgree) {
  Messages messages;
  LineSpeeds speeds(messages.file());
  speeds.Update(9600, 115200);
  const std::vector<uint64_t> sent = BackToBack(2, 0, 9600);
  EXPECT_EQ(speeds.FromFirmware("OK", sent, sent.back()), "");
  speeds.Update(9600, 9600);
  EXPECT_EQ(speeds.FromFirmware("", {}, sent.back() + kClockHz / 100), "OK");
}

}  // namespace
}  // namespace avrboard
