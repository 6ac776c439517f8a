// The library against the real firmware, once per board: the Uno image runs
// in avrboard on a simulated ATmega328P and the Mega 2560 image on an
// ATmega2560, the block reaches it over its serial link through
// ARDUINO_BLOCK_COM7, and avrboard's log shows what the chip's pins did.  The
// pins are the board's Arduino pin numbers, which sit on other ports of the
// two chips, so the same test bodies check both pin maps.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "host/simulation.h"
#include "link/exchange.h"
#include "link/serial.h"
#include "test_support.h"

namespace arduino {
namespace {

using Clock = std::chrono::steady_clock;
using testing::HostBlock;
using testing::ValueArray;

constexpr int kComPort = 7;

// A board: avrboard's chip for it and the directory firmware/build.sh
// builds its image into.
struct Board {
  const char* name;
  const char* mcu;
  const char* image_dir;
  std::vector<int> pwm_pins;  // of 2..9, the ones a timer channel drives
  std::string Image() const {
    return std::string(FIRMWARE_DIR) + "/" + image_dir + "/arduino_block.elf";
  }
};
const Board kBoards[] = {{"Uno", "atmega328p", "uno", {3, 5, 6, 9}},
                         {"Mega2560", "atmega2560", "mega2560", {2, 3, 4, 5, 6, 7, 8, 9}}};
// avrboard needs a moment to load; the shared machines need more.
constexpr auto kStartLimit = std::chrono::seconds(15);

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// avrboard as a child process, started with the test's own inputs.
class AvrBoardProcess {
 public:
  AvrBoardProcess(const Board& board, const std::string& dir,
                  const std::vector<std::string>& inputs)
      : link_(dir + "/ttyAVR"), log_(dir + "/pins.log") {
    std::vector<std::string> args = {AVRBOARD_PATH, "--mcu", board.mcu, "--firmware", board.Image(),
                                     "--pty",       link_,   "--log",   log_};
    args.insert(args.end(), inputs.begin(), inputs.end());
    harness::StartOptions options;
    options.ready_text = "avrboard: ready";
    options.timeout = kStartLimit;
    std::optional<harness::ChildProcess> started =
        harness::ChildProcess::TryStart(args, &why_not_ready_, options);
    if (started) process_.emplace(std::move(*started));
  }

  bool ready() const { return process_.has_value(); }
  const std::string& link() const { return link_; }
  std::string stderr_text() { return process_ ? process_->stderr_text() : why_not_ready_; }

  // Ends it with SIGTERM as a person's Ctrl-C would; the exit status, or -1.
  int Stop() { return process_ ? process_->Stop(SIGTERM, std::chrono::seconds(10)) : -1; }

  // The latest state of each pin the log mentions, and each pin's history.
  std::map<int, std::vector<std::string>> PinHistory() const {
    std::map<int, std::vector<std::string>> history;
    std::ifstream in(log_);
    std::string stamp, word;
    int pin;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      fields >> stamp >> word >> pin;
      std::string state;
      std::getline(fields >> std::ws, state);
      history[pin].push_back(state);
    }
    return history;
  }

 private:
  std::string link_;
  std::string log_;
  std::string why_not_ready_;
  std::optional<harness::ChildProcess> process_;
};

class AvrHilTest : public ::testing::TestWithParam<Board> {
 protected:
  void SetUp() override {
    if (std::string(AVRBOARD_PATH).empty() || access(AVRBOARD_PATH, X_OK) != 0) {
      GTEST_SKIP() << "avrboard was not built (needs libsimavr-dev and libelf-dev)";
    }
    if (access(GetParam().Image().c_str(), R_OK) != 0) {
      GTEST_SKIP() << "no firmware image at " << GetParam().Image()
                   << "; run firmware/build.sh first";
    }
    char dir[] = "/tmp/avr_hil_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    for (int pin = 2; pin <= 9; ++pin) data().PinMode[pin] = pmUnused;
    data().AnalogUsed.fill(0);
    data().InterfaceKind = kInterfaceUsb;
    data().ComPort = kComPort;
    data().BaudRate = 9600;
  }
  void TearDown() override {
    if (started_) EndSimulationDLL2(block_.record());
    unsetenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str());
    if (board_) {
      EXPECT_EQ(board_->Stop(), 0) << board_->stderr_text();
      // The last line says whether the simulation kept up with real time.
      const std::string& text = board_->stderr_text();
      const size_t stopped = text.rfind("avrboard: stopped");
      if (stopped != std::string::npos) std::cout << text.substr(stopped);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  void StartBoard(const std::vector<std::string>& inputs) {
    board_ = std::make_unique<AvrBoardProcess>(GetParam(), dir_, inputs);
    ASSERT_TRUE(board_->ready()) << board_->stderr_text();
    setenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str(), board_->link().c_str(), 1);
  }
  // Starts the simulation; includes the link's 2 s pause after opening.
  void Start() {
    started_ = true;
    InitSimulationDLL(block_.record(), inputs_.data(), outputs_.data());
  }
  // One step, timed.
  double Step() {
    const auto start = Clock::now();
    SimulateDLL(Lead12{}, block_.record(), inputs_.data(), outputs_.data());
    return MsSince(start);
  }
  TUserData& data() { return block_.data(); }

  std::string dir_;
  std::unique_ptr<AvrBoardProcess> board_;
  HostBlock block_;
  ValueArray inputs_{8};
  ValueArray outputs_{14, -1.0L};
  bool started_ = false;
};

TEST_P(AvrHilTest, EveryCommandIsAnsweredWithinTheReplyLimit) {
  StartBoard({"--pin", "7=high", "--pin", "8=low", "--adc", "A0=512", "--adc", "A4=1023"});
  OpenSerialLink(data());
  started_ = true;
  ASSERT_EQ(SerialHandleState(), SerialState::kOpen);
  const std::pair<const char*, const char*> exchanges[] = {
      {"!03mo", "OK"},          {"!03s1", "OK"},
      {"!03s0", "OK"},          {"!07mi", "OK"},
      {"?07s?", "HIGH"},        {"?08s?", "LOW"},
      {"!14mi", "OK"},          {"?14s?", "512"},
      {"?18s?", "1023"},        {"?19s?", "0"},
      {"pwm05", "OK"},          {"w0512", "OK"},
      {"!22s1", "ERR bad pin"}, {"w2000", "ERR bad value"},
      {"pwm14", "ERR bad pin"}, {"?07s?", "HIGH"},
  };
  double slowest_ms = 0;
  for (auto [command, expected] : exchanges) {
    const auto start = Clock::now();
    EXPECT_EQ(ExchangeCommand(data(), command), expected) << command;
    const double took_ms = MsSince(start);
    EXPECT_LT(took_ms, kSerialReplyWaitMs) << command;
    slowest_ms = std::max(slowest_ms, took_ms);
  }
  std::cout << "slowest round trip: " << slowest_ms << " ms\n";
}

TEST_P(AvrHilTest, DigitalAndPwmOutputsReachTheChipsPins) {
  StartBoard({});
  data().PinMode[2] = pmDigitalOutput;
  data().PinMode[4] = pmDigitalOutput;
  for (int pin : {3, 5, 6, 9}) data().PinMode[pin] = pmPWMOutput;
  inputs_.set(0, 5.0L);     // pin 2 high
  inputs_.set(2, 0.0L);     // pin 4 low
  inputs_.set(1, 100.0L);   // pin 3: 100 >> 2 = 25
  inputs_.set(3, 512.0L);   // pin 5: 128
  inputs_.set(4, 1000.0L);  // pin 6: 250
  inputs_.set(7, 4.0L);     // pin 9: 1
  Start();
  inputs_.set(0, 0.0L);
  inputs_.set(2, 3.3L);
  inputs_.set(1, 800.0L);   // pin 3: 200
  inputs_.set(7, 1023.0L);  // pin 9: 255, which the core drives as plain high
  EXPECT_LT(Step(), 8 * kSerialReplyWaitMs);
  usleep(100 * 1000);  // the log is written a slice after the change

  auto history = board_->PinHistory();
  EXPECT_EQ(history[2], (std::vector<std::string>{"low", "high", "low"}))
      << "made an output (low), then driven high, then low";
  EXPECT_EQ(history[4].back(), "high");
  EXPECT_EQ(history[3].back(), "pwm 200");
  EXPECT_NE(std::find(history[3].begin(), history[3].end(), "pwm 25"), history[3].end());
  EXPECT_EQ(history[5].back(), "pwm 128");
  EXPECT_EQ(history[6].back(), "pwm 250");
  EXPECT_NE(std::find(history[9].begin(), history[9].end(), "pwm 1"), history[9].end());
  EXPECT_EQ(history[9].back(), "high");
  for (int pin : {7, 8})
    EXPECT_TRUE(history[pin].empty()) << "unused pin " << pin << " was touched";
}

TEST_P(AvrHilTest, InputsComeBackAsTheBlocksOutputs) {
  StartBoard({"--pin", "2=high", "--pin", "3=low", "--pin", "9=high", "--adc", "A0=0", "--adc",
              "A2=700", "--adc", "A5=1023"});
  for (int pin : {2, 3, 9}) data().PinMode[pin] = pmDigitalInput;
  data().AnalogUsed = {1, 0, 1, 0, 0, 1};
  Start();
  EXPECT_EQ(outputs_[0], 5.0L);
  EXPECT_EQ(outputs_[1], 0.0L);
  EXPECT_EQ(outputs_[7], 5.0L);
  EXPECT_EQ(outputs_[8], 0.0L);
  EXPECT_EQ(outputs_[10], 700.0L);
  EXPECT_EQ(outputs_[13], 1023.0L);
  EXPECT_EQ(outputs_[2], -1.0L) << "an unused pin's output is left alone";
  EXPECT_EQ(outputs_[9], -1.0L) << "an unused analog input is left alone";
  EXPECT_LT(Step(), 6 * kSerialReplyWaitMs);
  EXPECT_EQ(outputs_[10], 700.0L);
}

TEST_P(AvrHilTest, ASineOnAnAnalogInputReachesTheOutputs) {
  // 500 +- 400 with a 1 s period, read for about 2.5 periods.
  StartBoard({"--adc", "A1=sine:400:500:1000"});
  data().AnalogUsed = {0, 1, 0, 0, 0, 0};
  Start();
  std::vector<double> values;
  const auto start = Clock::now();
  int sign_changes = 0;
  while (MsSince(start) < 2500) {
    const double took_ms = Step();
    EXPECT_LT(took_ms, kSerialReplyWaitMs);
    const double value = static_cast<double>(outputs_[9]);
    if (!values.empty() && (values.back() - 500) * (value - 500) < 0) ++sign_changes;
    values.push_back(value);
    std::printf("%7.1f ms  A1 = %4.0f  (step %.1f ms)\n", MsSince(start), value, took_ms);
  }
  ASSERT_GE(values.size(), 20u) << "too few steps to see the wave";
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  EXPECT_GE(*low, 99.0);
  EXPECT_LE(*high, 901.0);
  EXPECT_LT(*low, 200.0) << "the troughs should come through";
  EXPECT_GT(*high, 800.0) << "the crests should come through";
  // Two and a half periods cross the middle about five times.
  EXPECT_GE(sign_changes, 3);
  EXPECT_LE(sign_changes, 7);
}

TEST_P(AvrHilTest, EveryPwmPinOfTheBoardTakesItsDuty) {
  StartBoard({});
  // Each pin its own duty, so a pin read from another's timer shows.
  std::map<int, int> duty;
  for (int pin : GetParam().pwm_pins) {
    data().PinMode[pin] = pmPWMOutput;
    duty[pin] = 20 * pin;
    inputs_.set(pin - 2, 4.0L * duty[pin]);
  }
  Start();
  usleep(100 * 1000);  // the log is written a slice after the change
  auto history = board_->PinHistory();
  for (int pin = 2; pin <= 9; ++pin) {
    if (duty.count(pin)) {
      ASSERT_FALSE(history[pin].empty()) << "pin " << pin;
      EXPECT_EQ(history[pin].back(), "pwm " + std::to_string(duty[pin])) << "pin " << pin;
    } else {
      EXPECT_TRUE(history[pin].empty()) << "pin " << pin << " has no timer and was not used";
    }
  }
}

// `blockhost check` through the exports of the built module, as a user
// runs it against a board on the desk.
TEST_P(AvrHilTest, BlockhostCheckFindsTheFirmwareAnswering) {
  if (std::string(BLOCKHOST_PATH).empty()) GTEST_SKIP() << "blockhost was not built";
  StartBoard({"--adc", "A0=512"});
  const std::string command = std::string(BLOCKHOST_PATH) + " check --lib " + ARDUINO_BLOCK_MODULE +
                              " --comport " + std::to_string(kComPort) + " --baud 9600 2>&1";
  FILE* check = popen(command.c_str(), "r");
  ASSERT_NE(check, nullptr);
  std::string out;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof chunk, check)) out.append(chunk, n);
  const int status = pclose(check);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  EXPECT_NE(out.find("board answered 512 in "), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Boards, AvrHilTest, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<Board>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace arduino
