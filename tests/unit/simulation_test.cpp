// The simulation cycle against a scripted loopback board.
#include "host/simulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "base/application.h"
#include "link/serial.h"
#include "pty_pair.h"
#include "test_support.h"
#include "thrown_message.h"
#include "udp_peer.h"
#include "unlocked_port_user.h"

namespace arduino {
namespace {

using harness::AnsweringPeer;
using testing::HostBlock;
using testing::ValueArray;
using Log = std::vector<std::string>;

constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

TEST(PwmValueTest, ClampsThenRoundsHalfToEven) {
  const std::pair<long double, int32_t> cases[] = {
      {0.0L, 0},     {-4.0L, 0}, {1100.2L, 1023}, {1023.0L, 1023}, {511.5L, 512},
      {510.5L, 510}, {0.5L, 0},  {1.5L, 2},       {1022.5L, 1022}, {510.50001L, 511},
      {kInf, 1023},  {-kInf, 0}, {kNaN, 0},       {0.4999L, 0},
  };
  for (auto [input, expected] : cases) {
    EXPECT_EQ(RoundHalfEven(ClampPwm(input)), expected) << static_cast<double>(input);
  }
}

// Every command of one board run, in order, with scripted replies.
class SimulationTest : public ::testing::Test {
 protected:
  SimulationTest()
      : board_([this](const std::string& command) -> std::optional<std::string> {
          auto found = replies_.find(command);
          if (found != replies_.end()) return found->second;
          if (command[0] == '?') return std::string(command[1] == '1' ? "0" : "HIGH");
          return std::string("OK");
        }) {
    data().IPAddress = "127.0.0.1";
    data().UdpPort = board_.port();
  }
  TUserData& data() { return block_.data(); }
  void AllUnused() {
    for (int pin = 2; pin <= 9; ++pin) data().PinMode[pin] = pmUnused;
    data().AnalogUsed.fill(0);
  }
  void Start() { InitSimulationDLL(block_.record(), inputs_.data(), outputs_.data()); }
  void Step() { SimulateDLL(Lead12{}, block_.record(), inputs_.data(), outputs_.data()); }

  std::map<std::string, std::string> replies_;
  AnsweringPeer board_;
  HostBlock block_;
  ValueArray inputs_ = ValueArray::Inputs();
  ValueArray outputs_ = ValueArray::Outputs(-1.0L);
};

TEST_F(SimulationTest, StartSendsModesThenPerformsTheFirstStep) {
  data().PinMode[3] = pmPWMOutput;
  data().PinMode[4] = pmUnused;
  data().PinMode[7] = 9;  // not a mode: nothing for this pin
  data().AnalogUsed = {1, 0, 0, 5, 0, -1};
  inputs_.Set(1, 300.0L);
  inputs_.Set(4, 3.0L);
  Start();
  Log expected = {"!02mi", "!03mo", "!05mi", "!06mo", "!08mo", "!09mo", "!14mi", "!17mi", "?02s?",
                  "pwm03", "w0300", "?05s?", "!06s1", "!08s0", "!09s0", "?14s?", "?17s?"};
  EXPECT_EQ(board_.commands(), expected);
  replies_["?17s?"] = "7";
  Step();
  Log step(expected.begin() + 8, expected.end());
  expected.insert(expected.end(), step.begin(), step.end());
  EXPECT_EQ(board_.commands(), expected);
  EXPECT_EQ(outputs_[11], 7.0L);
  EXPECT_EQ(outputs_[2], -1.0L) << "an unused pin's output is left alone";
  EXPECT_EQ(outputs_[5], -1.0L) << "a pin with an unknown mode is left alone";
  EXPECT_EQ(outputs_[9], -1.0L) << "an unused analog input is left alone";
}

TEST_F(SimulationTest, DigitalOutputsAreHighAboveTwoAndAHalf) {
  AllUnused();
  data().PinMode[5] = pmDigitalOutput;
  const std::pair<long double, const char*> cases[] = {
      {3.7L, "!05s1"},  {2.5L, "!05s0"}, {2.5000001L, "!05s1"},
      {-kInf, "!05s0"}, {kInf, "!05s1"}, {kNaN, "!05s0"},
  };
  Start();
  for (auto [input, command] : cases) {
    inputs_.Set(3, input);
    Step();
    EXPECT_EQ(board_.commands().back(), command) << static_cast<double>(input);
  }
}

TEST_F(SimulationTest, DigitalInputsAreLowOnlyForExactlyLow) {
  AllUnused();
  data().PinMode[2] = pmDigitalInput;
  Start();
  for (auto [reply, expected] :
       {std::pair{"LOW", 0.0L}, {"HIGH", 5.0L}, {"low", 5.0L}, {"LOW ", 5.0L}, {"", 5.0L}}) {
    replies_["?02s?"] = reply;
    Step();
    EXPECT_EQ(outputs_[0], expected) << "'" << reply << "'";
  }
}

TEST_F(SimulationTest, PwmInputIsClampedInPlaceOnlyWhenOutOfRange) {
  AllUnused();
  data().PinMode[9] = pmPWMOutput;
  Start();
  inputs_.Set(7, 1100.2L);
  Step();
  EXPECT_EQ(inputs_[7], 1023.0L);
  Log log = board_.commands();
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"pwm09", "w1023"}));
  inputs_.Set(7, -4.0L);
  Step();
  EXPECT_EQ(inputs_[7], 0.0L);
  EXPECT_EQ(board_.commands().back(), "w0000");

  // A value in range keeps its exact bytes, even a negative zero.
  inputs_.Set(7, -0.0L);
  Step();
  EXPECT_TRUE(std::signbit(inputs_[7]));
  EXPECT_EQ(board_.commands().back(), "w0000");
  inputs_.Set(7, kNaN);
  Step();
  EXPECT_EQ(inputs_[7], 0.0L) << "NaN is taken as 0 and written back";
}

TEST_F(SimulationTest, BadAnalogReplyEndsTheStepThere) {
  AllUnused();
  data().PinMode[2] = pmDigitalInput;
  data().AnalogUsed = {1, 0, 0, 1, 1, 1};
  replies_["?02s?"] = "LOW";
  replies_["?14s?"] = " 512 ";
  replies_["?17s?"] = "1,5";
  EXPECT_EQ(testing::ThrownMessage<EConvertError>([&] { Start(); }),
            "'1,5' ist kein g\xc3\xbcltiger Gleitkommawert");
  EXPECT_EQ(outputs_[0], 0.0L);
  EXPECT_EQ(outputs_[8], 512.0L);
  EXPECT_EQ(outputs_[11], -1.0L);
  EXPECT_EQ(board_.commands().back(), "?17s?") << "A4 and A5 are not asked";
}

TEST_F(SimulationTest, AllUnusedSendsNothing) {
  AllUnused();
  EXPECT_EQ(CanSimulateDLL(block_.record()), 1);
  Start();
  Step();
  EndSimulationDLL2(block_.record());
  usleep(50 * 1000);
  EXPECT_TRUE(board_.commands().empty());
}

TEST(CanSimulateTest, AnswersByInterfaceAndRestoresTheDefaultCursor) {
  harness::PtyPair board(5);
  HostBlock block;
  auto answer = [&](int32_t kind, int32_t port) {
    block.data().InterfaceKind = kind;
    block.data().ComPort = port;
    Application().SetCursor(-12);  // whatever the host had, the default follows
    int32_t result = CanSimulateDLL(block.record());
    EXPECT_EQ(Application().Cursor(), crDefault);
    return result;
  };
  EXPECT_EQ(answer(0, 99), 1);
  EXPECT_EQ(answer(1, 5), 1);
  EXPECT_EQ(answer(1, 6), 0);
  EXPECT_EQ(answer(2, 5), 0);
  EXPECT_EQ(answer(-1, 5), 0);
  {
    // cat takes no lock of any kind; only looking finds it.
    harness::UnlockedPortUser cat(board.slave_path());
    EXPECT_EQ(answer(1, 5), 0);
  }
  EXPECT_EQ(answer(1, 5), 1);
}

TEST(EndSimulationTest, ClosesTheSharedPortOnlyForUsbBlocks) {
  testing::SkipOpenPause skip_pause;
  harness::PtyPair board(5);
  HostBlock usb, ethernet;
  usb.data().InterfaceKind = kInterfaceUsb;
  usb.data().ComPort = 5;
  OpenSerialLink(usb.data());
  EndSimulationDLL2(ethernet.record());
  usb.Dispose();
  EXPECT_EQ(SerialHandleState(), SerialState::kOpen);
  HostBlock another;
  another.data().InterfaceKind = kInterfaceUsb;
  EndSimulationDLL2(another.record());
  EXPECT_EQ(SerialHandleState(), SerialState::kNotSet);
}

}  // namespace
}  // namespace arduino
