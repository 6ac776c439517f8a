// The built library against boards that misbehave: boardsim with its fault
// options over loopback UDP and over a pseudo-terminal, the real firmware in
// avrboard, and serial ports that vanish or are held by someone else.  Every
// row states what the block reads, how the run ends and what the waits may
// cost, and every row ends with a healthy run of the same block, because a
// fault must never outlast the run it happened in.
#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "block/user_data.h"
#include "e2e_harness.h"
#include "firmware_images.h"
#include "link/NMUDP.h"
#include "link/exchange.h"
#include "link/serial.h"
#include "test_platform.h"

namespace faults {
namespace {

using harness::BlockExports;
using harness::BlockSettings;
using harness::ChildProcess;
using harness::LoadedBlock;
using harness::TempDir;
using harness::Values;
using Clock = std::chrono::steady_clock;

// The library's time limits.  A board that does not answer costs more than
// the wait; the margins on top are generous because the test machines are
// shared and noisy, yet far below anything that would hide a hang.
constexpr double kUdpWaitMs = arduino::kUdpReplyWaitMs;
constexpr double kSerialWaitMs = arduino::kSerialReplyWaitMs;
constexpr double kSerialOpenPauseMs = arduino::kSerialOpenPauseMs;
constexpr double kLookupLimitMs = arduino::kLookupLimitMs;
constexpr double kUdpMarginMs = 150;
constexpr double kSerialMarginMs = 500;
constexpr double kCallMarginMs = 1000;

constexpr int kComPort = 9;

// The Uno's serial image at 9600 baud, which the firmware rows run.
std::string UnoImage() {
  return harness::FindBoardImage("uno", harness::ImageLink::kSerial, 9600).Elf(FIRMWARE_DIR);
}

// Whether the block must look the address up as a host name before sending.
bool LooksUpAName(const std::string& address) {
  return address.find_first_not_of("0123456789.") != std::string::npos;
}
constexpr long double kUntouched = -1.0L;
// What a digital input reads when the board gives no usable reply.
constexpr long double kSilentDigital = 5.0L;
// The boards below answer pin 2 with LOW and A0 with 100, so a real reading
// can never be mistaken for the reading of silence.
constexpr long double kRealDigital = 0.0L;
constexpr long double kRealAnalog = 100.0L;
const std::vector<std::string> kBoardValues = {"--reply", "?02s?=LOW", "--analog", "A0=const:100"};

// The conversion error follows the quoted reply.
const char kFloatError[] = " ist kein g\xc3\xbcltiger Gleitkommawert";

enum class Link { kUdp, kPty };
// What the block reads: pin 2 as a digital input, or A0.  Either way a start
// sends two commands (the mode, then the first reading) and a step one.
enum class Watch { kDigital, kAnalog };

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double WaitMs(Link link) { return link == Link::kUdp ? kUdpWaitMs : kSerialWaitMs; }

// The most a call with `exchanges` exchanges may take.
double CallLimitMs(Link link, int exchanges, bool opens_port) {
  const double per_exchange =
      link == Link::kUdp ? kUdpWaitMs + kUdpMarginMs : kSerialWaitMs + kSerialMarginMs;
  return (opens_port ? kSerialOpenPauseMs : 0) + exchanges * per_exchange + kCallMarginMs;
}

size_t WatchedOutput(Watch watch) { return watch == Watch::kDigital ? 0 : 8; }
long double RealReading(Watch watch) {
  return watch == Watch::kDigital ? kRealDigital : kRealAnalog;
}

// One board process: boardsim on UDP or on a pseudo-terminal, or avrboard.
class Board {
 public:
  // boardsim on loopback UDP; the port comes from its start-up line.
  static Board Udp(const std::vector<std::string>& faults) {
    Board board(StartBoardsim({"--udp", "127.0.0.1:0"}, faults));
    board.udp_port_ = board.process_.udp_port();
    return board;
  }
  // boardsim on a pseudo-terminal reached through the symlink `link`.
  static Board Pty(const std::string& link, const std::vector<std::string>& faults) {
    return Board(StartBoardsim({"--pty", link}, faults));
  }
  // The firmware in avrboard, pin 2 held low and A0 at 100.  Its ready line
  // comes once the terminal's link exists; loading the image comes first.
  static Board Avr(const std::string& link) {
    return Board(harness::StartAvrboard(AVRBOARD_PATH, {"--firmware", UnoImage(), "--pty", link,
                                                        "--pin", "2=low", "--adc", "A0=100"}));
  }

  int udp_port() const { return udp_port_; }

 private:
  explicit Board(ChildProcess process) : process_(std::move(process)) {}

  static ChildProcess StartBoardsim(std::vector<std::string> args,
                                    const std::vector<std::string>& faults) {
    args.insert(args.end(), kBoardValues.begin(), kBoardValues.end());
    args.insert(args.end(), faults.begin(), faults.end());
    return harness::StartBoardsim(BOARDSIM_PATH, args);
  }

  ChildProcess process_;
  int udp_port_ = 0;
};

// boardsim on `link`, its pseudo-terminal reached through `tty`.
Board StartBoard(Link link, const std::string& tty, const std::vector<std::string>& faults) {
  return link == Link::kUdp ? Board::Udp(faults) : Board::Pty(tty, faults);
}

// The settings of a block that watches `watch` of a board on `link`: over
// UDP at `udp_port`, over the serial link at COM kComPort.
BlockSettings SettingsFor(Link link, Watch watch, int udp_port = 0) {
  BlockSettings settings;
  settings.pin_mode.fill(0);
  settings.analog_used.fill(0);
  if (watch == Watch::kDigital) settings.pin_mode[0] = 1;
  if (watch == Watch::kAnalog) settings.analog_used[0] = 1;
  settings.udp_port = udp_port;
  if (link == Link::kPty) {
    settings.interface_kind = arduino::kInterfaceUsb;
    settings.com_port = kComPort;
  }
  return settings;
}

// What one run did: the watched output after each call (the start first),
// how long each call took, and the error that ended the run, if any.
struct RunRecord {
  int32_t can_simulate = -1;
  std::vector<long double> readings;
  std::vector<double> call_ms;
  std::string error;
  double failed_call_ms = 0;  // how long the call that raised the error took
};

// Runs a simulation as a host does: CanSimulateDLL, then (when it allowed
// the run) InitSimulationDLL and `steps` steps, and EndSimulationDLL2 however
// it ended.  `before_step(k)` runs before step k.  Without `probe` the run
// starts as if an earlier probe had allowed it.
RunRecord RunSimulation(LoadedBlock* block, Watch watch, int steps,
                        const std::function<void(int)>& before_step = {}, bool probe = true) {
  const BlockExports& module = e2e::Module();
  RunRecord record;
  if (probe) {
    record.can_simulate = module.CanSimulateDLL(block->record());
    if (record.can_simulate == 0) return record;
  }
  Values inputs(ARDUINO_BLOCK_INPUTS, 0.0L), outputs(ARDUINO_BLOCK_OUTPUTS, kUntouched);
  auto start = Clock::now();
  try {
    for (int call = 0; call <= steps; ++call) {
      if (call > 0 && before_step) before_step(call);
      start = Clock::now();
      if (call == 0) {
        module.InitSimulationDLL(block->record(), inputs.data(), outputs.data());
      } else {
        module.SimulateDLL(Lead12{}, block->record(), inputs.data(), outputs.data());
      }
      record.call_ms.push_back(MsSince(start));
      record.readings.push_back(outputs[WatchedOutput(watch)]);
    }
  } catch (const std::exception& error) {
    record.failed_call_ms = MsSince(start);
    record.error = error.what();
  }
  module.EndSimulationDLL2(block->record());
  return record;
}

// The check that closes every row: the same block, pointed at a healthy
// board, runs and reads what the board says.  For the serial link the board
// comes back at the same port, as a board plugged in again does.
void ExpectNextRunWorks(LoadedBlock* block, Link link, Watch watch, const std::string& tty) {
  SCOPED_TRACE("the next run, against a healthy board");
  // A board that answers late may have sent one more reply before it was
  // stopped.  Between runs a host's idle loop hands that datagram to the
  // block, whose next wait then clears it, so the block's events are run
  // here as that loop runs them (the library's are in GLib's default
  // context); left queued, it would be the next run's first reply.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  const Board board = StartBoard(link, tty, {});
  block->Configure(SettingsFor(link, watch, board.udp_port()));
  RunRecord run = RunSimulation(block, watch, 2);
  EXPECT_EQ(run.can_simulate, 1);
  EXPECT_EQ(run.error, "");
  ASSERT_EQ(run.readings.size(), 3u);
  for (size_t call = 0; call < run.readings.size(); ++call) {
    EXPECT_EQ(run.readings[call], RealReading(watch)) << "call " << call;
    EXPECT_LT(run.call_ms[call],
              CallLimitMs(link, call == 0 ? 2 : 1, call == 0 && link == Link::kPty))
        << "call " << call;
  }
}

// What a row's run reads.
enum class Reading {
  kReal,    // the board's value, until it stops answering (see `answered`)
  kSilent,  // what a board that gives no usable reply yields
  kEither,  // each call one or the other
  kLate,    // replies arrive after the wait: the start reads the mode
            // command's late "OK", later calls read a late LOW at least once
};

struct Row {
  const char* name;
  Link link;
  std::vector<std::string> faults;  // boardsim options
  Watch watch;
  int steps;
  Reading reading;
  // Commands the board answers before it goes quiet; -1 for all of them.
  // The commands from then on cost the full wait and read silence.
  int answered;
  // Every exchange lasts the full wait even though the board answers.
  bool waits_out_every_exchange;
  // How the run ends: the error's whole message, or "" for no error.  A
  // message starting with "..." names its ending only.
  std::string error;
  std::string address = "127.0.0.1";
};

// Rows print as their names in test output.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The row name as a test name.
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  }
  return name;
}

// clang-format off
const Row kRows[] = {
    // name, link, boardsim faults, watch, steps, reading, answered, waits out, error[, address]
    {"udp_answers", Link::kUdp, {}, Watch::kDigital, 5, Reading::kReal, -1, false, ""},
    {"udp_slow_within_the_wait", Link::kUdp, {"--delay-ms", "40"}, Watch::kDigital, 5,
     Reading::kReal, -1, false, ""},
    {"udp_drops_every_reply", Link::kUdp, {"--drop-rate", "1"}, Watch::kDigital, 3,
     Reading::kSilent, 0, false, ""},
    {"udp_drops_every_analog_reply", Link::kUdp, {"--drop-rate", "1"}, Watch::kAnalog, 3,
     Reading::kSilent, 0, false, std::string("''") + kFloatError},
    {"udp_drops_half_the_replies", Link::kUdp, {"--drop-rate", "0.5", "--seed", "7"},
     Watch::kDigital, 20, Reading::kEither, -1, false, ""},
    {"udp_replies_after_the_wait", Link::kUdp, {"--late-ms", "150"}, Watch::kDigital, 12,
     Reading::kLate, -1, false, ""},
    {"udp_garbage_before_every_reply", Link::kUdp, {"--garbage", "--seed", "3"}, Watch::kDigital,
     5, Reading::kSilent, -1, false, ""},
    {"udp_garbage_before_an_analog_reply", Link::kUdp, {"--garbage", "--seed", "3"},
     Watch::kAnalog, 5, Reading::kSilent, -1, false, std::string("...'") + kFloatError},
    {"udp_oversized_datagrams", Link::kUdp, {"--oversized"}, Watch::kDigital, 5,
     Reading::kSilent, -1, false, ""},
    {"udp_oversized_analog_datagram", Link::kUdp, {"--oversized"}, Watch::kAnalog, 5,
     Reading::kSilent, -1, false, std::string("''") + kFloatError},
    {"udp_board_hangs_up_mid_run", Link::kUdp, {"--hangup-after", "4"}, Watch::kDigital, 5,
     Reading::kReal, 4, false, ""},
    {"udp_replies_to_another_port", Link::kUdp, {"--reply-port", "9"}, Watch::kDigital, 3,
     Reading::kSilent, 0, false, ""},
    {"udp_unresolvable_host_name", Link::kUdp, {}, Watch::kDigital, 3, Reading::kSilent, 0,
     false, "Host Lookup Canceled", "no-such-board.invalid"},
    {"udp_null_address", Link::kUdp, {}, Watch::kDigital, 3, Reading::kSilent, 0, false,
     "Null Remote Address", "0.0.0.0"},
    {"pty_answers", Link::kPty, {}, Watch::kDigital, 5, Reading::kReal, -1, false, ""},
    {"pty_drops_every_reply", Link::kPty, {"--drop-rate", "1"}, Watch::kDigital, 1,
     Reading::kSilent, 0, false, ""},
    {"pty_replies_after_the_wait", Link::kPty, {"--late-ms", "1300"}, Watch::kDigital, 4,
     Reading::kLate, -1, false, ""},
    {"pty_garbage_before_every_reply", Link::kPty, {"--garbage", "--seed", "5"}, Watch::kDigital,
     5, Reading::kEither, -1, false, ""},
    {"pty_garbage_before_an_analog_reply", Link::kPty, {"--garbage", "--seed", "5"},
     Watch::kAnalog, 5, Reading::kReal, -1, false, std::string("...100'") + kFloatError},
    {"pty_replies_without_line_end", Link::kPty, {"--no-line-end"}, Watch::kDigital, 1,
     Reading::kReal, -1, true, ""},
    {"pty_board_hangs_up_mid_run", Link::kPty, {"--hangup-after", "3"}, Watch::kDigital, 3,
     Reading::kReal, 3, false, ""},
    // The block at 115200 baud, the board at 9600: every byte garbled both ways.
    {"pty_board_at_another_speed", Link::kPty, {"--baud", "9600"}, Watch::kDigital, 2,
     Reading::kSilent, 0, false, ""},
    {"pty_board_at_another_speed_analog", Link::kPty, {"--baud", "9600"}, Watch::kAnalog, 2,
     Reading::kSilent, 0, false, std::string("''") + kFloatError},
};
// clang-format on

class FaultMatrixTest : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override { setenv(variable_.c_str(), tty_.c_str(), 1); }
  void TearDown() override { unsetenv(variable_.c_str()); }

  TempDir dir_;
  std::string tty_ = dir_.File("tty");
  std::string variable_ = "ARDUINO_BLOCK_COM" + std::to_string(kComPort);
};

TEST_P(FaultMatrixTest, RowHoldsAndTheNextRunWorks) {
  const Row& row = GetParam();
  const bool udp = row.link == Link::kUdp;
  // A name that must not resolve is looked up only where the look-up can
  // neither leave the machine nor depend on the system's resolver.
  if (LooksUpAName(row.address)) {
    if (auto beyond = arduino::testing::NetworkBeyondLoopback()) {
      GTEST_SKIP() << "looking up " << row.address << " could leave this machine through "
                   << *beyond << "; ./run test runs this in a network namespace with only loopback";
    }
  }
  LoadedBlock block(e2e::Module());
  {
    const Board board = StartBoard(row.link, tty_, row.faults);
    BlockSettings settings = SettingsFor(row.link, row.watch, board.udp_port());
    settings.address = row.address;
    block.Configure(settings);
    RunRecord run = RunSimulation(&block, row.watch, row.steps);
    EXPECT_EQ(run.can_simulate, 1);

    // How the run ended.
    if (row.error.empty()) {
      EXPECT_EQ(run.error, "");
      EXPECT_EQ(run.readings.size(), static_cast<size_t>(row.steps + 1));
    } else if (row.error.starts_with("...")) {
      EXPECT_TRUE(run.error.ends_with(row.error.substr(3))) << run.error;
    } else {
      EXPECT_EQ(run.error, row.error);
    }

    // What each call read.  Call c ends with the reading sent as command
    // c + 1: the start sends the mode first.
    int late_real = 0;
    for (size_t call = 0; call < run.readings.size(); ++call) {
      SCOPED_TRACE("call " + std::to_string(call));
      const long double reading = run.readings[call];
      const bool answered = row.answered < 0 || static_cast<int>(call) + 1 < row.answered;
      switch (row.reading) {
        case Reading::kReal:
          EXPECT_EQ(reading, answered ? RealReading(row.watch) : kSilentDigital);
          break;
        case Reading::kSilent:
          EXPECT_EQ(reading, kSilentDigital);
          break;
        case Reading::kEither:
          EXPECT_TRUE(reading == RealReading(row.watch) || reading == kSilentDigital)
              << static_cast<double>(reading);
          break;
        case Reading::kLate:
          if (call == 0) {
            EXPECT_EQ(reading, kSilentDigital) << "the start read the mode command's OK";
          } else {
            EXPECT_TRUE(reading == kRealDigital || reading == kSilentDigital)
                << static_cast<double>(reading);
            if (reading == kRealDigital) ++late_real;
          }
          break;
      }
    }
    if (row.reading == Reading::kLate) {
      EXPECT_GE(late_real, 1) << "no late reply was taken by a later command";
    }

    // What each call cost.  Commands that get no reply, or whose reply has
    // no line end, last more than the wait; none lasts much longer.
    for (size_t call = 0; call < run.call_ms.size(); ++call) {
      SCOPED_TRACE("call " + std::to_string(call));
      const int exchanges = call == 0 ? 2 : 1;
      const bool opens = call == 0 && !udp;
      EXPECT_LT(run.call_ms[call], CallLimitMs(row.link, exchanges, opens));
      int silent = 0;
      for (int command = call == 0 ? 0 : static_cast<int>(call) + 1;
           command <= static_cast<int>(call) + 1; ++command) {
        if (row.waits_out_every_exchange || (row.answered >= 0 && command >= row.answered)) {
          ++silent;
        }
      }
      EXPECT_GE(run.call_ms[call], (opens ? kSerialOpenPauseMs : 0) + silent * WaitMs(row.link));
    }
    if (!run.error.empty()) {
      // A host name is looked up before the first send; the resolver and
      // the library's own limit bound the look-up.
      const bool looks_up = LooksUpAName(row.address);
      const int exchanges = run.call_ms.empty() ? 2 : 1;
      EXPECT_LT(run.failed_call_ms,
                (looks_up ? kLookupLimitMs : 0) +
                    CallLimitMs(row.link, exchanges, run.call_ms.empty() && !udp));
    }
  }
  ExpectNextRunWorks(&block, row.link, row.watch, tty_);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(kRows), RowName);

// The rows whose fault is an event around the run rather than a board
// option: the serial port's device comes and goes, or someone else holds it.
enum class PortEvent {
  kVanishesBetweenProbeAndOpen,
  kHeldByAnotherProcess,
  kUnpluggedBetweenRuns,
  kHangsUpMidRun,
};

struct PortRow {
  const char* name;
  PortEvent event;
  bool firmware;         // the board is the real firmware in avrboard
  int32_t can_simulate;  // what the probe before the run answers
  int steps;
  int real_calls;  // calls that read the board's value; the rest read silence
};

void PrintTo(const PortRow& row, std::ostream* out) { *out << row.name; }
std::string PortRowName(const ::testing::TestParamInfo<PortRow>& info) { return info.param.name; }

const PortRow kPortRows[] = {
    {"vanishes_between_probe_and_open", PortEvent::kVanishesBetweenProbeAndOpen, false, 1, 1, 0},
    {"held_by_another_process", PortEvent::kHeldByAnotherProcess, false, 0, 0, 0},
    {"unplugged_between_runs", PortEvent::kUnpluggedBetweenRuns, false, 0, 0, 0},
    {"boardsim_hangs_up_mid_run", PortEvent::kHangsUpMidRun, false, 1, 3, 2},
    {"firmware_hangs_up_mid_run", PortEvent::kHangsUpMidRun, true, 1, 3, 2},
    {"firmware_unplugged_between_runs", PortEvent::kUnpluggedBetweenRuns, true, 0, 0, 0},
};

// Another program with the port open and locked, until the object goes.
class PortHolder {
 public:
  explicit PortHolder(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
      const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      char ignored;
      (void)!read(release[0], &ignored, 1);  // returns when the parent closes its end
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_fd_ = release[1];
    char ok = 'n';
    (void)!read(ready[0], &ok, 1);
    close(ready[0]);
    holding_ = ok == 'y';
  }
  ~PortHolder() {
    close(release_fd_);
    waitpid(pid_, nullptr, 0);
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool holding_ = false;
};

class PortEventTest : public ::testing::TestWithParam<PortRow> {
 protected:
  void SetUp() override {
    if (GetParam().firmware &&
        (!harness::WhyNoAvrboard(AVRBOARD_PATH).empty() || access(UnoImage().c_str(), R_OK) != 0)) {
      GTEST_SKIP() << "needs avrboard and the Uno image (firmware/build.sh)";
    }
    setenv(variable_.c_str(), tty_.c_str(), 1);
  }
  void TearDown() override { unsetenv(variable_.c_str()); }

  Board StartBoard() { return GetParam().firmware ? Board::Avr(tty_) : Board::Pty(tty_, {}); }

  TempDir dir_;
  std::string tty_ = dir_.File("tty");
  std::string variable_ = "ARDUINO_BLOCK_COM" + std::to_string(kComPort);
};

TEST_P(PortEventTest, RowHoldsAndTheNextRunWorks) {
  const PortRow& row = GetParam();
  LoadedBlock block(e2e::Module());
  BlockSettings settings = SettingsFor(Link::kPty, Watch::kDigital);
  settings.baud_rate = 9600;
  block.Configure(settings);

  std::optional<Board> board(StartBoard());
  RunRecord run;
  switch (row.event) {
    case PortEvent::kVanishesBetweenProbeAndOpen: {
      // The host probes, then the board goes before the run opens the port.
      const int32_t probed = e2e::Module().CanSimulateDLL(block.record());
      EXPECT_EQ(probed, 1);
      board.reset();
      run = RunSimulation(&block, Watch::kDigital, row.steps, {}, /*probe=*/false);
      run.can_simulate = probed;
      EXPECT_EQ(e2e::Module().CanSimulateDLL(block.record()), 0) << "nothing is plugged in now";
      break;
    }
    case PortEvent::kHeldByAnotherProcess: {
      PortHolder holder(tty_);
      ASSERT_TRUE(holder.holding());
      run = RunSimulation(&block, Watch::kDigital, row.steps);
      break;
    }
    case PortEvent::kUnpluggedBetweenRuns: {
      RunRecord first = RunSimulation(&block, Watch::kDigital, 1);
      EXPECT_EQ(first.error, "");
      EXPECT_EQ(first.readings, (std::vector<long double>{kRealDigital, kRealDigital}));
      board.reset();
      run = RunSimulation(&block, Watch::kDigital, row.steps);
      break;
    }
    case PortEvent::kHangsUpMidRun:
      run = RunSimulation(&block, Watch::kDigital, row.steps, [&](int step) {
        if (step == row.real_calls) board.reset();
      });
      break;
  }

  EXPECT_EQ(run.can_simulate, row.can_simulate);
  EXPECT_EQ(run.error, "");
  const size_t calls = row.can_simulate == 0 ? 0 : static_cast<size_t>(row.steps) + 1;
  ASSERT_EQ(run.readings.size(), calls);
  for (size_t call = 0; call < calls; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    const bool real = static_cast<int>(call) < row.real_calls;
    EXPECT_EQ(run.readings[call], real ? kRealDigital : kSilentDigital);
    const int exchanges = call == 0 ? 2 : 1;
    EXPECT_LT(run.call_ms[call], CallLimitMs(Link::kPty, exchanges, call == 0));
    if (!real) {
      // A start that opened nothing still pauses; silence costs the wait.
      EXPECT_GE(run.call_ms[call],
                (call == 0 ? kSerialOpenPauseMs : 0) + exchanges * kSerialWaitMs);
    }
  }

  board.reset();
  if (row.firmware) {
    SCOPED_TRACE("the next run, against the firmware plugged in again");
    Board again = Board::Avr(tty_);
    RunRecord next = RunSimulation(&block, Watch::kDigital, 2);
    EXPECT_EQ(next.can_simulate, 1);
    EXPECT_EQ(next.error, "");
    EXPECT_EQ(next.readings, (std::vector<long double>(3, kRealDigital)));
  } else {
    ExpectNextRunWorks(&block, Link::kPty, Watch::kDigital, tty_);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PortEventTest, ::testing::ValuesIn(kPortRows), PortRowName);

// The inodes of this process's open sockets.
std::set<std::string> SocketInodes() {
  std::set<std::string> inodes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.starts_with("socket:["))
      inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

// The local port of the UDP socket with this inode, 0 if there is none.
int UdpPortOfInode(const std::string& inode) {
  std::ifstream table("/proc/self/net/udp");
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> node;
    if (node == inode) return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
  }
  return 0;
}

// Replies are taken from any sender: a datagram that reaches the block's
// port during a wait is the board's answer, whoever sent it.  This is the
// link's threat model, not a fault to fix; the boards belong on a network
// of their own.
TEST(StrangerTest, AnyDatagramToTheBlocksPortIsTakenAsTheReply) {
  Board board = Board::Udp({"--drop-rate", "1"});
  // The stranger's socket comes first: once its first send binds it, it is a
  // UDP socket with a port too, and must not be taken for the block's.
  const int stranger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(stranger, 0);
  const std::set<std::string> before = SocketInodes();
  LoadedBlock block(e2e::Module());
  block.Configure(SettingsFor(Link::kUdp, Watch::kDigital, board.udp_port()));

  // Normally port 1600; another program holding that leaves the block on a
  // port of the system's choosing, which the first send fixes.
  const std::function<int()> block_port = [&] {
    for (const std::string& inode : SocketInodes()) {
      if (before.count(inode) == 0) {
        if (const int port = UdpPortOfInode(inode); port != 0) return port;
      }
    }
    return 0;
  };
  RunRecord run = RunSimulation(&block, Watch::kDigital, 3, [&](int) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(block_port()));
    // Queued before the step's wait begins, it is taken at the wait's first
    // pass, before the real board could have answered.
    (void)sendto(stranger, "LOW", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  });
  close(stranger);
  EXPECT_EQ(run.error, "");
  // The board drops every reply, so each LOW came from the stranger.
  EXPECT_EQ(run.readings,
            (std::vector<long double>{kSilentDigital, kRealDigital, kRealDigital, kRealDigital}));
}

}  // namespace
}  // namespace faults
