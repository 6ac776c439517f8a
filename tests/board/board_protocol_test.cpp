// The protocol core against a recording fake board: what each command
// replies and exactly what it does to the board.
#include "board_protocol.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// Records every call as one short line and answers reads from tables the
// test fills in.
class FakeBoard : public board::BoardPins {
 public:
  void SetPinMode(uint8_t pin, board::PinMode mode) override {
    Record("mode " + std::to_string(pin) + (mode == board::PinMode::kOutput ? " out" : " in"));
  }
  void WriteDigital(uint8_t pin, bool high) override {
    Record("write " + std::to_string(pin) + (high ? " 1" : " 0"));
  }
  bool ReadDigital(uint8_t pin) override { return levels[pin]; }
  int16_t ReadAnalog(uint8_t pin) override { return analog[pin]; }
  void WritePwm(uint8_t pin, uint16_t value) override {
    Record("pwm " + std::to_string(pin) + " " + std::to_string(value));
  }

  std::string TakeCalls() {
    std::string taken;
    taken.swap(calls_);
    return taken;
  }

  bool levels[board::kPinCount] = {};
  int16_t analog[board::kPinCount] = {};

 private:
  void Record(const std::string& call) { calls_ += calls_.empty() ? call : "; " + call; }
  std::string calls_;
};

struct Case {
  std::string command;
  std::string reply;
  std::string effect;  // The board calls it makes; empty for none.
};

void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.command << '"'; }

class BoardProtocolTest : public testing::TestWithParam<Case> {
 protected:
  BoardProtocolTest() : protocol_(board_) {
    board_.levels[2] = true;
    board_.analog[14] = 0;
    board_.analog[15] = 1023;
    board_.analog[16] = 512;
    board_.analog[17] = -7;
    board_.analog[18] = 4000;
    board_.analog[19] = 7;
  }

  std::string Send(const std::string& command) {
    board::Reply reply;
    memset(&reply, 'x', sizeof(reply));
    protocol_.Handle(command.data(), command.size(), &reply);
    EXPECT_EQ(strlen(reply.text), reply.length) << "reply not terminated at its length";
    return std::string(reply.text, reply.length);
  }

  FakeBoard board_;
  board::BoardProtocol protocol_;
};

TEST_P(BoardProtocolTest, RepliesAndActs) {
  EXPECT_EQ(Send(GetParam().command), GetParam().reply);
  EXPECT_EQ(board_.TakeCalls(), GetParam().effect);
}

INSTANTIATE_TEST_SUITE_P(
    WellFormed, BoardProtocolTest,
    testing::Values(Case{"!03mi", "OK", "mode 3 in"}, Case{"!06mo", "OK", "mode 6 out"},
                    Case{"!02mo", "OK", "mode 2 out"}, Case{"!09mi", "OK", "mode 9 in"},
                    Case{"!06s1", "OK", "write 6 1"}, Case{"!06s0", "OK", "write 6 0"},
                    // The analog inputs double as digital pins, as on the board.
                    Case{"!14mo", "OK", "mode 14 out"}, Case{"!19s1", "OK", "write 19 1"},
                    Case{"?02s?", "HIGH", ""}, Case{"?03s?", "LOW", ""}, Case{"?14s?", "0", ""},
                    Case{"?15s?", "1023", ""}, Case{"?16s?", "512", ""}, Case{"?19s?", "7", ""},
                    // Out-of-range readings from the hardware are clamped.
                    Case{"?17s?", "0", ""}, Case{"?18s?", "1023", ""}, Case{"pwm05", "OK", ""},
                    Case{"pwm09", "OK", ""},
                    // A hand-typed line end is forgiven.
                    Case{"!03mi\r\n", "OK", "mode 3 in"}, Case{"?02s?\n", "HIGH", ""}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, BoardProtocolTest,
    testing::Values(
        Case{"", "ERR empty command", ""}, Case{"\n", "ERR empty command", ""},
        Case{"!03m", "ERR bad length", ""}, Case{"!03mi0", "ERR bad length", ""},
        Case{"!03mi\n\n", "ERR bad length", ""}, Case{"?02s?x", "ERR bad length", ""},
        Case{"hello", "ERR unknown command", ""}, Case{"#03mi", "ERR unknown command", ""},
        Case{"!03mx", "ERR unknown command", ""}, Case{"!03s2", "ERR unknown command", ""},
        Case{"!03xi", "ERR unknown command", ""}, Case{"?02s!", "ERR unknown command", ""},
        Case{"?02m?", "ERR unknown command", ""}, Case{"pwx05", "ERR unknown command", ""},
        Case{"pWm05", "ERR unknown command", ""}, Case{"!01mo", "ERR bad pin", ""},
        Case{"!00mi", "ERR bad pin", ""}, Case{"!10mo", "ERR bad pin", ""},
        Case{"!13s1", "ERR bad pin", ""}, Case{"!20mi", "ERR bad pin", ""},
        Case{"!a3mi", "ERR bad pin", ""}, Case{"! 3mi", "ERR bad pin", ""},
        Case{"!3 mi", "ERR bad pin", ""}, Case{"?99s?", "ERR bad pin", ""},
        Case{"?-1s?", "ERR bad pin", ""}, Case{"pwm14", "ERR bad pin", ""},
        Case{"pwm01", "ERR bad pin", ""}, Case{"pwm1x", "ERR bad pin", ""},
        Case{"w1024", "ERR bad value", ""}, Case{"w9999", "ERR bad value", ""},
        Case{"w-001", "ERR bad value", ""}, Case{"w 512", "ERR bad value", ""},
        Case{"w051a", "ERR bad value", ""},
        // No pin selected yet: the value is refused, not sent anywhere.
        Case{"w0512", "ERR no pwm pin", ""}));

TEST_F(BoardProtocolTest, PwmSelectionIsKeptUntilTheNextValidSelection) {
  struct Step {
    std::string command;
    std::string reply;
    std::string effect;
  };
  const std::vector<Step> steps = {
      {"pwm05", "OK", ""},
      {"w0512", "OK", "pwm 5 512"},
      {"w0000", "OK", "pwm 5 0"},
      {"pwm09", "OK", ""},
      {"w1023", "OK", "pwm 9 1023"},
      // A refused selection or value loses nothing: pin 9 stays selected.
      {"pwm14", "ERR bad pin", ""},
      {"w2000", "ERR bad value", ""},
      {"w0001", "OK", "pwm 9 1"},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Send(step.command), step.reply) << step.command;
    EXPECT_EQ(board_.TakeCalls(), step.effect) << step.command;
  }
  EXPECT_EQ(protocol_.selected_pwm_pin(), 9);
}

TEST_F(BoardProtocolTest, ReadsOnlyTheGivenLength) {
  // Commands are not NUL-terminated; reading past `length` would find the
  // garbage that follows here.
  const char command[] = "!03mzGARBAGE";
  board::Reply reply;
  protocol_.Handle(command, board::kCommandLength, &reply);
  EXPECT_STREQ(reply.text, "ERR unknown command");
  EXPECT_LT(reply.length, board::kReplyCapacity);
}

}  // namespace
