// boardsim end to end: the real binary over loopback UDP and a real
// pseudo-terminal, as the block will meet it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "serial_client.h"
#include "udp_peer.h"

namespace boardsim_test {
namespace {

using harness::ChildProcess;
using harness::kStartTimeout;
using harness::ReadLines;
using harness::RunResult;
using harness::SerialClient;
using harness::UdpPeer;
using std::chrono::milliseconds;
using Args = std::vector<std::string>;

constexpr milliseconds kReplyTimeout{3'000};

// Runs boardsim to completion (for --help and argument errors).
RunResult RunBoardsim(Args args) {
  args.insert(args.begin(), BOARDSIM_PATH);
  return harness::RunProgram(args);
}

struct ArgumentCase {
  std::string name;
  Args args;
  std::string message;  // Must appear in the error line.
};

class BoardsimArgumentTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(BoardsimArgumentTest, RefusesWithClearMessageAndStatusOne) {
  const RunResult result = RunBoardsim(GetParam().args);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
}

const ArgumentCase kBadCommandLines[] = {
    {"NoTransport", {}, "one of --udp or --pty is required"},
    {"MissingValue", {"--udp"}, "--udp: missing value"},
    {"NoPort", {"--udp", "127.0.0.1"}, "expected ADDR:PORT"},
    {"PortOutOfRange", {"--udp", "127.0.0.1:70000"}, "bad port"},
    {"TwoTransports", {"--udp", "127.0.0.1:0", "--pty", "/tmp/x"}, "only one of"},
    {"UnknownOption", {"--udp", "127.0.0.1:0", "--frobnicate"}, "unknown option"},
    {"StrayArgument", {"--udp", "127.0.0.1:0", "stray"}, "unexpected argument"},
    {"WireToItself", {"--udp", "127.0.0.1:0", "--wire", "6=6"}, "wired to itself"},
    {"WireToBadPin", {"--udp", "127.0.0.1:0", "--wire", "6=12"}, "bad pin"},
    {"AnalogBadInput", {"--udp", "127.0.0.1:0", "--analog", "A6=const:1"}, "not A0..A5"},
    {"SineMissingFields", {"--udp", "127.0.0.1:0", "--analog", "A0=sine:1:2"}, "expected sine:"},
    {"RampZeroPeriod", {"--udp", "127.0.0.1:0", "--analog", "A0=ramp:0"}, "period"},
    {"PwmSourceAnalogPin", {"--udp", "127.0.0.1:0", "--analog", "A0=pwm:A1"}, "digital pin"},
    {"UnknownWaveform", {"--udp", "127.0.0.1:0", "--analog", "A0=square:9"}, "unknown source"},
    {"DropRateAboveOne", {"--udp", "127.0.0.1:0", "--drop-rate", "1.5"}, "probability"},
    {"NegativeDelay", {"--udp", "127.0.0.1:0", "--delay-ms", "-5"}, "milliseconds"},
    {"HangupAfterZero", {"--udp", "127.0.0.1:0", "--hangup-after", "0"}, "at least 1"},
    {"ReplyWithoutText", {"--udp", "127.0.0.1:0", "--reply", "?14s?"}, "expected CMD=TEXT"},
    {"ReplyBadEscape", {"--udp", "127.0.0.1:0", "--reply", "?14s?=\\q"}, "bad escape"},
    {"FlagWithValue", {"--udp", "127.0.0.1:0", "--garbage=yes"}, "takes no value"},
    {"LineEndOverUdp", {"--udp", "127.0.0.1:0", "--no-line-end"}, "use it with --pty"},
    {"OversizedOverSerial", {"--pty", "/tmp/x", "--oversized"}, "--udp only"},
    {"BaudOverUdp", {"--udp", "127.0.0.1:0", "--baud", "9600"}, "use --pty"},
    {"BaudNoLineSpeed", {"--pty", "/tmp/x", "--baud", "12345"}, "line speed"},
    {"BaudNotANumber", {"--pty", "/tmp/x", "--baud", "fast"}, "line speed"},
    // Valid syntax, but nothing can be bound there: set-up failures
    // also end with status 1 and say why.
    {"CannotBind", {"--udp", "203.0.113.1:0"}, "cannot bind"},
};

INSTANTIATE_TEST_SUITE_P(BadCommandLines, BoardsimArgumentTest, testing::ValuesIn(kBadCommandLines),
                         [](const testing::TestParamInfo<ArgumentCase>& param_info) {
                           return param_info.param.name;
                         });

TEST(BoardsimCommandLine, HelpPrintsUsageAndSucceeds) {
  const RunResult result = RunBoardsim({"--help"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out.rfind("usage: boardsim", 0), 0u) << result.out;
}

// Each test gets its own directory for logs and pty links, so tests can run
// in parallel.
class BoardsimTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    ASSERT_FALSE(dir_.empty());
  }

  // Starts boardsim or fails the test with what it printed.
  std::optional<ChildProcess> Launch(const Args& args) {
    std::string said;
    auto process = harness::TryStartBoardsim(BOARDSIM_PATH, args, &said);
    EXPECT_TRUE(process.has_value()) << "boardsim did not start: " << said;
    return process;
  }
  std::optional<ChildProcess> LaunchUdp(Args args) {
    args.insert(args.begin(), {"--udp", "127.0.0.1:0"});
    return Launch(args);
  }
  // On a pseudo-terminal reached through link_.
  std::optional<ChildProcess> LaunchPty(Args args) {
    args.insert(args.begin(), {"--pty", link_});
    return Launch(args);
  }

  harness::TempDir temp_;
  std::string dir_;
  const std::string link_ = temp_.path() + "/board";
};

using Exchanges = std::vector<std::pair<std::string, std::string>>;

// Asks each command in turn from one client and expects its reply.
void ExpectReplies(uint16_t port, const Exchanges& exchanges) {
  UdpPeer client;
  for (const auto& [command, reply] : exchanges) {
    EXPECT_EQ(client.Ask(port, command), reply) << command;
  }
}

TEST_F(BoardsimTest, UdpStartupLineNamesTheChosenPort) {
  auto board = LaunchUdp({});
  ASSERT_TRUE(board);
  EXPECT_EQ(board->ready_line().rfind("boardsim: listening on udp 127.0.0.1:", 0), 0u);
  EXPECT_NE(board->udp_port(), 0);
  UdpPeer client;
  EXPECT_EQ(client.Ask(board->udp_port(), "?02s?"), "LOW");
}

TEST_F(BoardsimTest, WiredOutputDrivesInputAndEveryCommandIsLogged) {
  const std::string log = dir_ + "/commands.log";
  auto board = LaunchUdp({"--wire", "6=2", "--wire", "7=A5", "--log", log});
  ASSERT_TRUE(board);
  const Exchanges steps = {
      {"!02mi", "OK"},
      {"!06mo", "OK"},
      {"?02s?", "LOW"},
      {"!06s1", "OK"},
      {"?02s?", "HIGH"},
      {"?03s?", "LOW"},
      {"!07s1", "OK"},
      {"?19s?", "1023"},
      {"!06s0", "OK"},
      {"?02s?", "LOW"},
      {"!6s1", "ERR bad length"},
      {"?02s?", "LOW"},  // The malformed write above changed nothing.
  };
  ExpectReplies(board->udp_port(), steps);
  std::vector<std::string> sent;
  for (const auto& step : steps) sent.push_back(step.first);
  // The log is read while boardsim still runs: it must be flushed per line.
  EXPECT_EQ(ReadLines(log), sent);
  EXPECT_EQ(board->Stop(SIGINT), 0);
}

TEST_F(BoardsimTest, AnalogSourcesAreRoundedAndClamped) {
  auto board = LaunchUdp({"--analog", "A0=const:-5", "--analog", "A1=const:5000", "--analog",
                          "A2=const:511.6", "--analog", "A3=pwm:9", "--analog",
                          "A4=sine:2000:512:1000", "--analog", "a5=ramp:50"});
  ASSERT_TRUE(board);
  const uint16_t port = board->udp_port();
  ExpectReplies(port, {{"?14s?", "0"},
                       {"?15s?", "1023"},
                       {"?16s?", "512"},
                       {"?17s?", "0"},
                       {"pwm09", "OK"},
                       {"w0300", "OK"},
                       {"?17s?", "300"}});
  UdpPeer client;
  // Waveforms: whatever the moment, the reading stays a whole number in
  // range even when the sine's swing exceeds it.
  for (int i = 0; i < 20; ++i) {
    for (const std::string command : {"?18s?", "?19s?"}) {
      const auto reply = client.Ask(port, command);
      ASSERT_TRUE(reply);
      ASSERT_FALSE(reply->empty());
      ASSERT_EQ(reply->find_first_not_of("0123456789"), std::string::npos) << *reply;
      EXPECT_LE(std::stoi(*reply), 1023);
    }
  }
}

TEST_F(BoardsimTest, ReplyOverrideSendsExactTextButStillActs) {
  auto board = LaunchUdp({"--reply", "?14s?=1,5", "--reply", "?15s?= 512 ", "--reply",
                          "!06s1=ERR\\x21", "--wire", "6=2"});
  ASSERT_TRUE(board);
  ExpectReplies(board->udp_port(),
                {{"?14s?", "1,5"}, {"?15s?", " 512 "}, {"!06s1", "ERR!"}, {"?02s?", "HIGH"}});
}

TEST_F(BoardsimTest, UdpFaultsShapeTheReplyDatagram) {
  UdpPeer listener;
  auto board =
      LaunchUdp({"--oversized", "--garbage", "--reply-port", std::to_string(listener.port())});
  ASSERT_TRUE(board);
  UdpPeer client;
  client.SendTo(board->udp_port(), "!03mi");
  EXPECT_FALSE(client.Receive(milliseconds(300))) << "reply went to the sender's port";
  const auto reply = listener.Receive(kReplyTimeout);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 3000u);
  // One to four noise bytes, then the reply, then padding.
  const size_t at = reply->find("OK");
  EXPECT_GE(at, 1u);
  EXPECT_LE(at, 4u);
  EXPECT_EQ(reply->find_first_not_of('#', at + 2), std::string::npos);
}

TEST_F(BoardsimTest, LateReplyArrivesOnlyAfterTheDelay) {
  auto board = LaunchUdp({"--late-ms", "600"});
  ASSERT_TRUE(board);
  UdpPeer client;
  client.SendTo(board->udp_port(), "!05mo");
  EXPECT_FALSE(client.Receive(milliseconds(250)));
  EXPECT_EQ(client.Receive(kReplyTimeout), "OK");
}

TEST_F(BoardsimTest, DropRateDropsRepliesButNotCommands) {
  const std::string log = dir_ + "/commands.log";
  auto board = LaunchUdp({"--drop-rate", "1", "--log", log});
  ASSERT_TRUE(board);
  UdpPeer client;
  for (int i = 0; i < 3; ++i) client.SendTo(board->udp_port(), "!04s1");
  EXPECT_FALSE(client.Receive(milliseconds(500)));
  EXPECT_EQ(ReadLines(log).size(), 3u);
}

TEST_F(BoardsimTest, UdpHangupAnswersThenExits) {
  auto board = LaunchUdp({"--hangup-after", "2"});
  ASSERT_TRUE(board);
  ExpectReplies(board->udp_port(), {{"!04mo", "OK"}, {"!04s1", "OK"}});
  EXPECT_EQ(board->WaitForExit(kStartTimeout), 0);
  EXPECT_FALSE(UdpPeer().Ask(board->udp_port(), "?04s?"));
}

TEST_F(BoardsimTest, SerialRepliesEndWithCrLfAndSurvivePeerReopen) {
  auto board = LaunchPty({"--wire", "9=3"});
  ASSERT_TRUE(board);
  const std::string target = std::filesystem::read_symlink(link_).string();
  EXPECT_EQ(board->ready_line(), "boardsim: serial on " + link_ + " -> " + target);
  {
    SerialClient serial(link_);
    ASSERT_TRUE(serial.valid());
    // Both commands in one write, as they might sit in one USB packet.
    serial.Write("!09mo!09s1");
    EXPECT_EQ(serial.ReadUntil("OK\r\nOK\r\n", kReplyTimeout), "OK\r\nOK\r\n");
  }
  SerialClient reopened(link_);
  ASSERT_TRUE(reopened.valid());
  reopened.Write("?03s?");
  EXPECT_EQ(reopened.ReadUntil("\r\n", kReplyTimeout), "HIGH\r\n");
  EXPECT_EQ(board->Stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link_)) << "link left behind";
}

// The descriptors of the process that name `device`.
int DescriptorsOn(pid_t pid, const std::string& device) {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error).string() == device) ++count;
  }
  return count;
}

// User and system time of the process so far, in clock ticks.
long CpuTicks(pid_t pid) {
  const std::string stat = harness::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

TEST_F(BoardsimTest, SerialBoardLeavesItsPortFreeAndIdlesWhileNobodyHasItOpen) {
  auto board = LaunchPty({});
  ASSERT_TRUE(board);
  const std::string slave = std::filesystem::read_symlink(link_).string();
  // Another program holding the slave makes the port look taken to the block.
  EXPECT_EQ(DescriptorsOn(board->pid(), slave), 0);
  {
    SerialClient serial(link_);
    ASSERT_TRUE(serial.valid());
    serial.Write("?02s?");
    EXPECT_EQ(serial.ReadUntil("\r\n", kReplyTimeout), "LOW\r\n");
  }
  // Without a peer the master polls as hung up; waiting on it would spin.
  // Idle, boardsim wakes a hundred times a second for some microseconds; a
  // spinning one gets a good share of a core even on a loaded machine.
  const long before = CpuTicks(board->pid());
  std::this_thread::sleep_for(milliseconds(2'000));
  const long spent = CpuTicks(board->pid()) - before;
  EXPECT_LT(spent, 2 * sysconf(_SC_CLK_TCK) / 20) << "ticks of CPU time in two idle seconds";
  EXPECT_EQ(DescriptorsOn(board->pid(), slave), 0);

  SerialClient again(link_);
  ASSERT_TRUE(again.valid());
  again.Write("?03s?");
  EXPECT_EQ(again.ReadUntil("\r\n", kReplyTimeout), "LOW\r\n") << "a later peer is served";
}

TEST_F(BoardsimTest, SerialAtAFixedSpeedAnswersOnlyAPeerAtThatSpeed) {
  const std::string log = dir_ + "/commands.log";
  auto board = LaunchPty({"--baud", "19200", "--log", log});
  ASSERT_TRUE(board);
  SerialClient serial(link_);
  ASSERT_TRUE(serial.valid());
  for (const int32_t wrong : {9600, 38400, 115200}) {
    SCOPED_TRACE(wrong);
    ASSERT_TRUE(serial.SetBaudRate(wrong));
    serial.Write("?02s?");
    const std::string garbled = serial.ReadFor(milliseconds(300));
    EXPECT_EQ(garbled.find("LOW"), std::string::npos) << garbled;
    EXPECT_TRUE(board->WaitForStderr(
        "the line is at " + std::to_string(wrong) + " baud, the board at 19200: bytes are garbled",
        kReplyTimeout));
  }
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{}) << "a command got through";
  ASSERT_TRUE(serial.SetBaudRate(19200));
  serial.Write("?02s?");
  EXPECT_EQ(serial.ReadUntil("\r\n", kReplyTimeout), "LOW\r\n");
  EXPECT_EQ(ReadLines(log), std::vector<std::string>{"?02s?"});
}

TEST_F(BoardsimTest, SerialWithoutAFixedSpeedAnswersAtAnySpeed) {
  auto board = LaunchPty({});
  ASSERT_TRUE(board);
  SerialClient serial(link_);
  ASSERT_TRUE(serial.valid());
  for (const int32_t speed : {9600, 115200}) {
    ASSERT_TRUE(serial.SetBaudRate(speed));
    serial.Write("?02s?");
    EXPECT_EQ(serial.ReadUntil("\r\n", kReplyTimeout), "LOW\r\n") << speed;
  }
}

TEST_F(BoardsimTest, SerialResynchronisesAfterLineNoise) {
  auto board = LaunchPty({});
  ASSERT_TRUE(board);
  SerialClient serial(link_);
  ASSERT_TRUE(serial.valid());
  // Noise before a command is skipped; a command cut short by the next
  // command's start byte costs one error reply, and framing stays in step.
  serial.Write(std::string("\r\n\x00\xff zz!06mo", 12));
  EXPECT_EQ(serial.ReadUntil("\r\n", kReplyTimeout), "OK\r\n");
  serial.Write("?xx?06s?");
  EXPECT_EQ(serial.ReadUntil("LOW\r\n", kReplyTimeout), "ERR bad length\r\nLOW\r\n");
}

TEST_F(BoardsimTest, SerialWithoutLineEnd) {
  auto board = LaunchPty({"--no-line-end"});
  ASSERT_TRUE(board);
  SerialClient serial(link_);
  ASSERT_TRUE(serial.valid());
  serial.Write("!02mi?02s?");
  EXPECT_EQ(serial.ReadUntil("OKLOW", kReplyTimeout), "OKLOW");
  EXPECT_EQ(serial.ReadFor(milliseconds(300)), "");
}

TEST_F(BoardsimTest, SerialHangupClosesTheLineAndRemovesTheLink) {
  auto board = LaunchPty({"--hangup-after", "1"});
  ASSERT_TRUE(board);
  SerialClient serial(link_);
  ASSERT_TRUE(serial.valid());
  serial.Write("!02mo?02s?");
  bool closed = false;
  EXPECT_EQ(serial.ReadFor(kReplyTimeout, &closed), "OK\r\n");
  EXPECT_TRUE(closed);
  EXPECT_EQ(board->WaitForExit(kStartTimeout), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link_));
}

TEST_F(BoardsimTest, RefusesToReplaceAFileThatIsNotALink) {
  const std::string path = dir_ + "/precious";
  { std::ofstream(path) << "keep me"; }
  const RunResult result = RunBoardsim({"--pty", path});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("not a symlink"), std::string::npos) << result.err;
  EXPECT_EQ(ReadLines(path), std::vector<std::string>{"keep me"});
}

}  // namespace
}  // namespace boardsim_test
