// The built library against a running boardsim, over loopback UDP and over a
// pseudo-terminal: what the block sends is checked in boardsim's command log,
// what it reads back in the output array.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "e2e_harness.h"
#include "thrown_message.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

enum class Transport { kUdp, kSerial };

constexpr long double kUntouched = -1.0L;  // an output the block did not write
constexpr double kSerialOpenPauseMs = 2000.0;

BlockSettings AllUnused() {
  BlockSettings settings;
  settings.pin_mode.fill(0);
  settings.analog_used.fill(0);
  return settings;
}

class BoardRunTest : public ::testing::TestWithParam<Transport> {
 protected:
  // Starts a fresh boardsim with `extra` options and returns `settings`
  // pointed at it.
  BlockSettings StartBoard(const std::vector<std::string>& extra, BlockSettings settings) {
    board_.reset();
    log_path_ = dir_.File("commands" + std::to_string(++boards_) + ".log");
    const std::string tty = dir_.File("tty" + std::to_string(boards_));
    std::vector<std::string> args{"--pty", tty};
    if (GetParam() == Transport::kUdp) args = {"--udp", "127.0.0.1:0"};
    args.insert(args.end(), {"--log", log_path_});
    args.insert(args.end(), extra.begin(), extra.end());
    board_.emplace(harness::StartBoardsim(BOARDSIM_PATH, args));
    if (GetParam() == Transport::kUdp) {
      settings.interface_kind = 0;
      settings.udp_port = board_->udp_port();
    } else {
      setenv("ARDUINO_BLOCK_COM5", tty.c_str(), 1);
      settings.interface_kind = 1;
      settings.com_port = 5;
    }
    return settings;
  }

  // Runs a block with `settings` to the end of its first step, its modes
  // set, with `inputs`; the outputs it left.
  Values FirstStep(const BlockSettings& settings, Values* inputs) const {
    LoadedBlock block(Module());
    block.Configure(settings);
    Values outputs = Values::Outputs(kUntouched);
    SimulationRun run(&block);
    run.Init(inputs, &outputs);
    return outputs;
  }

  Lines Log() const { return ReadLines(log_path_); }
  void ClearLog() const { WriteFile(log_path_, ""); }

  TempDir dir_;
  std::optional<ChildProcess> board_;
  std::string log_path_;
  int boards_ = 0;
};

TEST_P(BoardRunTest, DefaultRunSetsModesThenTakesOneStep) {
  Values inputs = Values::Inputs(0.0L);
  FirstStep(StartBoard({}, BlockSettings{}), &inputs);
  EXPECT_EQ(Log(), (Lines{"!02mi", "!03mi", "!04mi", "!05mi", "!06mo", "!07mo", "!08mo",
                          "!09mo", "!14mi", "!15mi", "!16mi", "!17mi", "!18mi", "!19mi",
                          "?02s?", "?03s?", "?04s?", "?05s?", "!06s0", "!07s0", "!08s0",
                          "!09s0", "?14s?", "?15s?", "?16s?", "?17s?", "?18s?", "?19s?"}));
}

TEST_P(BoardRunTest, DigitalOutputIsHighOnlyAboveTheThreshold) {
  BlockSettings settings = AllUnused();
  settings.pin_mode[3] = 2;  // pin 5 output
  settings = StartBoard({}, settings);
  const struct {
    long double input;
    const char* command;
  } kCases[] = {{3.7L, "!05s1"}, {2.5L, "!05s0"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<double>(c.input));
    ClearLog();
    Values inputs = Values::Inputs(0.0L);
    inputs.Set(3, c.input);
    FirstStep(settings, &inputs);
    EXPECT_EQ(Log(), (Lines{"!05mo", c.command}));
  }
}

TEST_P(BoardRunTest, PwmInputIsClampedInPlaceAndRoundedHalfToEven) {
  BlockSettings settings = AllUnused();
  settings.pin_mode[7] = 3;  // pin 9 PWM
  settings = StartBoard({}, settings);
  const struct {
    long double input;
    long double left_in_input;
    const char* level;
  } kCases[] = {{1100.2L, 1023.0L, "w1023"},
                {-4.0L, 0.0L, "w0000"},
                {511.5L, 511.5L, "w0512"},
                {510.5L, 510.5L, "w0510"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<double>(c.input));
    ClearLog();
    Values inputs = Values::Inputs(0.0L);
    inputs.Set(7, c.input);
    FirstStep(settings, &inputs);
    EXPECT_EQ(inputs[7], c.left_in_input);
    EXPECT_EQ(Log(), (Lines{"!09mo", "pwm09", c.level}));
  }
}

TEST_P(BoardRunTest, DigitalInputIsLowOnlyForAnExactLowReply) {
  BlockSettings settings = AllUnused();
  settings.pin_mode[0] = 1;  // pin 2 input
  const struct {
    std::vector<std::string> board;
    long double output;
  } kCases[] = {{{"--reply", "?02s?=LOW"}, 0.0L},
                {{"--reply", "?02s?=HIGH"}, 5.0L},
                {{"--reply", "?02s?=low"}, 5.0L},
                {{"--drop-rate", "1"}, 5.0L}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.board[1]);
    Values inputs = Values::Inputs(0.0L);
    EXPECT_EQ(FirstStep(StartBoard(c.board, settings), &inputs)[0], c.output);
    EXPECT_EQ(Log(), (Lines{"!02mi", "?02s?"}));
  }
}

TEST_P(BoardRunTest, AnalogReplyMayCarryBlanks) {
  BlockSettings settings = AllUnused();
  settings.analog_used[3] = 1;
  Values inputs = Values::Inputs(0.0L);
  EXPECT_EQ(FirstStep(StartBoard({"--reply", "?17s?= 512 "}, settings), &inputs)[11], 512.0L);
  EXPECT_EQ(Log(), (Lines{"!17mi", "?17s?"}));
}

TEST_P(BoardRunTest, CommaReplyEndsTheStepAtThatInput) {
  BlockSettings settings = AllUnused();
  settings.analog_used.fill(1);
  settings = StartBoard({"--analog", "A0=const:100", "--analog", "A1=const:200", "--analog",
                         "A2=const:300", "--reply", "?17s?=1,5"},
                        settings);
  LoadedBlock block(Module());
  block.Configure(settings);
  Values inputs = Values::Inputs(0.0L), outputs = Values::Outputs(kUntouched);
  SimulationRun run(&block);
  EXPECT_EQ(arduino::testing::ThrownMessage<EConvertError>([&] { run.Init(&inputs, &outputs); }),
            "'1,5' ist kein gültiger Gleitkommawert")
      << "the step went on past a reply that is no number";
  EXPECT_EQ(outputs[8], 100.0L);
  EXPECT_EQ(outputs[9], 200.0L);
  EXPECT_EQ(outputs[10], 300.0L);
  for (size_t k = 11; k < 14; ++k) EXPECT_EQ(outputs[k], kUntouched) << k;
  EXPECT_EQ(Log(), (Lines{"!14mi", "!15mi", "!16mi", "!17mi", "!18mi", "!19mi", "?14s?", "?15s?",
                          "?16s?", "?17s?"}));
}

TEST_P(BoardRunTest, AllPinsUnusedSendsNothing) {
  BlockSettings settings = StartBoard({}, AllUnused());
  LoadedBlock block(Module());
  block.Configure(settings);
  Values inputs = Values::Inputs(3.0L), outputs = Values::Outputs(kUntouched);
  SimulationRun run(&block);
  const auto start = std::chrono::steady_clock::now();
  run.Init(&inputs, &outputs);
  const double init_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.Step(&inputs, &outputs);
  usleep(200'000);  // room for anything in flight to reach the log
  EXPECT_EQ(Log(), Lines{});
  for (size_t k = 0; k < 14; ++k) EXPECT_EQ(outputs[k], kUntouched) << k;
  // Over serial the port is opened all the same, with its pause after the
  // open; the lower bound alone is safe on a loaded machine.
  if (GetParam() == Transport::kSerial) {
    EXPECT_GE(init_ms, kSerialOpenPauseMs * 0.95);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, BoardRunTest,
                         ::testing::Values(Transport::kUdp, Transport::kSerial),
                         [](const ::testing::TestParamInfo<Transport>& param) {
                           return param.param == Transport::kUdp ? "Udp" : "Serial";
                         });

TEST(BlockUdpTest, NullRemoteAddressStopsTheStart) {
  BlockSettings settings;
  settings.address = "0.0.0.0";
  settings.udp_port = 5000;
  LoadedBlock block(Module());
  block.Configure(settings);
  Values inputs = Values::Inputs(0.0L), outputs = Values::Outputs(kUntouched);
  SimulationRun run(&block);
  EXPECT_EQ(arduino::testing::ThrownMessage<UDPSockError>([&] { run.Init(&inputs, &outputs); }),
            "Null Remote Address")
      << "InitSimulationDLL accepted address 0.0.0.0";
}

}  // namespace
}  // namespace e2e
