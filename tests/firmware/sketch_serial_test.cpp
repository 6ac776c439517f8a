// The sketch's serial variant on the fake core: commands arrive as bytes on
// Serial, replies leave with CR LF, and the pin calls are what the board
// would do.  Built twice, as an Uno and as a Mega, whose analog pins sit at
// different numbers.
#include <Arduino.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_board.h"

void setup();
void loop();

namespace {

using Calls = std::vector<std::string>;
using fake_arduino::Board;

class SerialSketchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_arduino::ResetBoard();
    // The sketch's framer outlives a test; starting each test far later
    // than the last lets its stale-command rule drop anything left over.
    epoch_ms_ += 100000;
    Board().now_ms = epoch_ms_;
    setup();
  }

  // Delivers `bytes` as one burst, runs one pass of loop() and returns what
  // the sketch wrote back.
  std::string Send(const std::string& bytes) {
    Board().serial_input.insert(Board().serial_input.end(), bytes.begin(), bytes.end());
    loop();
    std::string output = Board().serial_output;
    Board().serial_output.clear();
    return output;
  }
  void Wait(unsigned long ms) { Board().now_ms += ms; }

  static unsigned long epoch_ms_;
};

unsigned long SerialSketchTest::epoch_ms_ = 0;

TEST_F(SerialSketchTest, OpensTheSerialPortAndLeavesThePinsAlone) {
  EXPECT_EQ(Board().serial_baud, 9600u);
  EXPECT_TRUE(Board().calls.empty()) << "pins stay as they are until the block sets a mode";
}

TEST_F(SerialSketchTest, ModeAndLevelCommandsReachThePins) {
  EXPECT_EQ(Send("!03mo!03s1!03s0!04mi"), "OK\r\nOK\r\nOK\r\nOK\r\n");
  EXPECT_EQ(Board().calls, (Calls{"pinMode(3,OUTPUT)", "digitalWrite(3,HIGH)",
                                  "digitalWrite(3,LOW)", "pinMode(4,INPUT)"}));
}

TEST_F(SerialSketchTest, DigitalReadsAnswerLowOrHigh) {
  Board().digital_inputs[7] = HIGH;
  EXPECT_EQ(Send("?07s??08s?"), "HIGH\r\nLOW\r\n");
  EXPECT_EQ(Board().calls, (Calls{"digitalRead(7)", "digitalRead(8)"}));
}

TEST_F(SerialSketchTest, AnalogPinsAreTheBoardsOwnA0ToA5) {
  std::string expected;
  Calls calls;
  for (int k = 0; k < 6; ++k) {
    Board().analog_inputs[A0 + k] = 1023 - 200 * k;
    expected += std::to_string(1023 - 200 * k) + "\r\n";
    calls.push_back("analogRead(" + std::to_string(A0 + k) + ")");
  }
  EXPECT_EQ(Send("?14s??15s??16s??17s??18s??19s?"), expected);
  // A mode command for A0 must reach A0, not whatever digital pin shares
  // the number 14 on this board.
  EXPECT_EQ(Send("!14mi"), "OK\r\n");
  calls.push_back("pinMode(" + std::to_string(A0) + ",INPUT)");
  EXPECT_EQ(Board().calls, calls);
}

TEST_F(SerialSketchTest, PwmDropsTheTwoLowBits) {
  const std::pair<const char*, int> cases[] = {
      {"w1023", 255}, {"w1020", 255}, {"w1019", 254}, {"w0512", 128},
      {"w0004", 1},   {"w0003", 0},   {"w0000", 0},
  };
  EXPECT_EQ(Send("pwm06"), "OK\r\n");
  for (auto [command, duty] : cases) {
    Board().calls.clear();
    EXPECT_EQ(Send(command), "OK\r\n") << command;
    EXPECT_EQ(Board().calls, Calls{"analogWrite(6," + std::to_string(duty) + ")"}) << command;
  }
}

TEST_F(SerialSketchTest, MalformedCommandsGetAnErrorAndTouchNothing) {
  EXPECT_EQ(Send("!22s1"), "ERR bad pin\r\n");
  EXPECT_EQ(Send("!03x1"), "ERR unknown command\r\n");
  EXPECT_EQ(Send("pwm14"), "ERR bad pin\r\n");
  EXPECT_EQ(Send("w2000"), "ERR bad value\r\n");
  EXPECT_TRUE(Board().calls.empty());
}

TEST_F(SerialSketchTest, NoiseAndCutCommandsDoNotShiftTheFraming) {
  // Line ends and junk between commands are dropped without a reply.
  EXPECT_EQ(Send(std::string("\r\n\0zz!05s1", 10)), "OK\r\n");
  // A start byte inside a command cuts it short: one error, and the next
  // command is still read from its own first byte.
  EXPECT_EQ(Send("!0!05s0"), "ERR bad length\r\nOK\r\n");
  EXPECT_EQ(Board().calls, (Calls{"digitalWrite(5,HIGH)", "digitalWrite(5,LOW)"}));
}

TEST_F(SerialSketchTest, CommandsAreJoinedAcrossPassesUntilTheyGoStale) {
  EXPECT_EQ(Send("!05"), "");
  Wait(20);
  EXPECT_EQ(Send("s1"), "OK\r\n") << "bytes a few milliseconds apart are one command";

  EXPECT_EQ(Send("!05"), "");
  Wait(300);
  EXPECT_EQ(Send("!06s1"), "OK\r\n") << "the lost rest of a command must not eat the next one";
  EXPECT_EQ(Board().calls, (Calls{"digitalWrite(5,HIGH)", "digitalWrite(6,HIGH)"}));
}

}  // namespace
