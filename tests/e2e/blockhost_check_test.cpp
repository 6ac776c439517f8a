// `blockhost check` against boards that answer, stay silent or send what is
// no number, over UDP and over a pseudo-terminal, and `blockhost ports` for
// a port the environment maps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "pty_pair.h"
#include "unlocked_port_user.h"

namespace e2e {
namespace {

using harness::PtyPair;
using harness::UnlockedPortUser;

// The speeds of check's "trying N baud ..." lines, in order.
std::vector<std::string> TriedSpeeds(const std::string& out) {
  std::vector<std::string> speeds;
  const std::string kTrying = "trying ";
  for (size_t at = out.find(kTrying); at != std::string::npos; at = out.find(kTrying, at + 1)) {
    if (at > 0 && out[at - 1] != '\n') continue;
    const size_t begin = at + kTrying.size();
    speeds.push_back(out.substr(begin, out.find(' ', begin) - begin));
  }
  return speeds;
}

// How many reads check timed, from its "round trip over N reads" line.
int TimedReads(const std::string& out) {
  const std::string kOver = "round trip over ";
  const size_t at = out.find(kOver);
  return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + kOver.size());
}

class CheckTest : public ::testing::Test {
 protected:
  // boardsim on loopback UDP or on a pty linked at dir_/ttyBOARD.
  void StartBoard(std::vector<std::string> args) {
    std::string error;
    std::optional<ChildProcess> started = harness::TryStartBoardsim(BOARDSIM_PATH, args, &error);
    ASSERT_TRUE(started) << error;
    board_.emplace(std::move(*started));
  }
  void StartUdpBoard(std::vector<std::string> args) {
    args.insert(args.begin(), {"--udp", "127.0.0.1:0"});
    StartBoard(args);
  }
  void StartPtyBoard(std::vector<std::string> args) {
    args.insert(args.begin(), {"--pty", Link()});
    StartBoard(args);
  }
  std::string UdpPort() const { return std::to_string(board_->udp_port()); }
  std::string Link() const { return dir_.File("ttyBOARD"); }

  TempDir dir_;
  std::optional<ChildProcess> board_;
};

TEST_F(CheckTest, AnsweringBoardsExitZeroWithValueAndTime) {
  StartUdpBoard({"--analog", "A0=const:512"});
  RunResult udp = Blockhost({"check", "--address", "127.0.0.1", "--udpport", UdpPort()});
  EXPECT_EQ(udp.exit_code, 0) << udp.out << udp.err;
  EXPECT_TRUE(Contains(udp.out, "link: 127.0.0.1, UDP port " + UdpPort() + "\n")) << udp.out;
  EXPECT_TRUE(Contains(udp.out, "board answered 512 in ")) << udp.out;
  EXPECT_TRUE(Contains(udp.out, " ms\n")) << udp.out;

  board_.reset();
  StartPtyBoard({"--analog", "A0=const:77"});
  RunResult serial =
      Blockhost({"check", "--comport", "5", "--baud", "115200"}, {"ARDUINO_BLOCK_COM5=" + Link()});
  EXPECT_EQ(serial.exit_code, 0) << serial.out << serial.err;
  EXPECT_TRUE(Contains(serial.out, "link: COM5 (" + Link() + ") at 115200 baud\n")) << serial.out;
  EXPECT_TRUE(Contains(serial.out, "board answered 77 in ")) << serial.out;
}

TEST_F(CheckTest, AProjectIsCheckedOnItsLinkWithoutDrivingItsPins) {
  const std::string log = dir_.File("commands.log");
  StartUdpBoard({"--analog", "A0=const:300", "--log", log});
  const std::string project = dir_.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "address=127.0.0.1", "udpport=" + UdpPort(),
                       "pin2=output", "pin3=pwm", "pin4=input"})
                .exit_code,
            0);
  const std::string before = ReadFile(project);
  RunResult check = Blockhost({"check", "--project", project});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "board answered 300 in ")) << check.out;
  EXPECT_EQ(ReadFile(project), before) << "check changed the project";
  // A0's mode, the first step's read, the timed steps' reads: nothing else.
  std::vector<std::string> expected = {"!14mi"};
  expected.insert(expected.end(), 1 + TimedReads(check.out), "?14s?");
  EXPECT_EQ(ReadLines(log), expected);
}

// The round trips a check times, and the step the project's pins make at
// the median: a board that delays every reply by 20 ms gives at least that.
TEST_F(CheckTest, TheRoundTripGivesTheProjectsStepAndStepRate) {
  StartUdpBoard({"--delay-ms", "20"});
  const std::string project = dir_.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "address=127.0.0.1", "udpport=" + UdpPort(),
                       "pin3=pwm", "a5=unused"})
                .exit_code,
            0);
  RunResult check = Blockhost({"check", "--project", project});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  const size_t at = check.out.find(": median ");
  ASSERT_NE(at, std::string::npos) << check.out;
  const double median_ms = std::strtod(check.out.c_str() + at + 9, nullptr);
  EXPECT_GE(median_ms, 20.0) << check.out;
  EXPECT_GE(TimedReads(check.out), 10) << "a few dozen reads, or two seconds of them";
  EXPECT_TRUE(Contains(check.out, ", 95th percentile ")) << check.out;
  // Pins 2, 4 and 5 inputs, 3 PWM (two), 6 to 9 outputs, A0 to A4: 14.
  const std::string rate = "this project: 14 exchanges a step, about ";
  const size_t line = check.out.find(rate);
  ASSERT_NE(line, std::string::npos) << check.out;
  const double step_ms = std::strtod(check.out.c_str() + line + rate.size(), nullptr);
  EXPECT_NEAR(step_ms, 14 * median_ms, 1.5) << check.out;  // each rounded
  EXPECT_TRUE(Contains(
      check.out, "at most " + std::to_string(static_cast<int>(1000 / step_ms)) + " steps a second"))
      << check.out;
  EXPECT_FALSE(Contains(check.out, "USB bridge")) << "UDP has none";
}

TEST_F(CheckTest, SilentBoardsExitThreeWithTheLinksHints) {
  RunResult udp = Blockhost({"check", "--address", "127.0.0.1", "--udpport", "9"});
  EXPECT_EQ(udp.exit_code, 3) << udp.out << udp.err;
  for (const char* hint :
       {"no answer from the board", "board's address", "UDP port 9", "firewall"}) {
    EXPECT_TRUE(Contains(udp.out, hint)) << hint << "\n" << udp.out;
  }

  PtyPair silent(6);  // nobody answers on the master side
  RunResult serial = Blockhost({"check", "--comport", "6"});
  EXPECT_EQ(serial.exit_code, 3) << serial.out << serial.err;
  for (const char* hint : {"no answer from the board", "blockhost ports",
                           "`blockhost flash --comport 6 --baud 9600`", "arduino_block-9600.hex"}) {
    EXPECT_TRUE(Contains(serial.out, hint)) << hint << "\n" << serial.out;
  }
  // Silent at 9600, it is looked for at the dialog's other speeds, in vain.
  EXPECT_EQ(TriedSpeeds(serial.out), (std::vector<std::string>{"19200", "38400", "115200"}));
  EXPECT_EQ(silent.ReadAvailable(), "!14mi?14s?!14mi?14s?!14mi?14s?!14mi?14s?")
      << "the block asked nothing but A0, once at each speed";
}

TEST_F(CheckTest, APortThatCannotBeOpenedExitsFive) {
  RunResult missing =
      Blockhost({"check", "--comport", "12"}, {"ARDUINO_BLOCK_COM12=" + dir_.File("missing")});
  EXPECT_EQ(missing.exit_code, 5) << missing.out << missing.err;
  EXPECT_TRUE(Contains(missing.out, "COM12 cannot be opened")) << missing.out;
}

TEST_F(CheckTest, APortThatAnotherProgramHasOpenIsNamedWithThatProgram) {
  PtyPair board(7);
  UnlockedPortUser cat(board.slave_path());
  // Every command that opens the port says the same, and exits the same.
  const std::string message = "COM7 (" + board.slave_path() + ") is held by cat (pid " +
                              std::to_string(cat.pid()) +
                              "): close it (a serial monitor, screen, minicom or cat) and try "
                              "again\n";
  RunResult held = Blockhost({"check", "--comport", "7"});
  EXPECT_EQ(held.exit_code, 5) << held.out << held.err;
  EXPECT_TRUE(Contains(held.out, message)) << held.out;
  const std::string project = dir_.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=usb", "comport=7"}).exit_code, 0);
  RunResult run = Blockhost({"run", "--project", project, "--steps", "1"});
  EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
  EXPECT_EQ(run.err, "blockhost: " + message);
  RunResult address = RunProgram({BLOCKHOST_PATH, "board-address", "--comport", "7"});
  EXPECT_EQ(address.exit_code, 5) << address.out << address.err;
  EXPECT_EQ(address.err, "blockhost: " + message);
  EXPECT_EQ(board.ReadAvailable(), "") << "a command sent something on the shared line";

  RunResult ports = Blockhost({"ports"});
  EXPECT_TRUE(Contains(ports.out, "COM7    " + board.slave_path() +
                                      "  (by ARDUINO_BLOCK_COM7)\n        held by cat (pid " +
                                      std::to_string(cat.pid()) + ")\n"))
      << ports.out;
  RunResult json = Blockhost({"ports", "--json"});
  EXPECT_TRUE(Contains(json.out, "\"held_by\": {\"pid\": " + std::to_string(cat.pid()) +
                                     ", \"program\": \"cat\", \"lock_file\": null}}"))
      << json.out;

  cat.Stop();
  RunResult free = Blockhost({"check", "--comport", "7"});
  EXPECT_FALSE(Contains(free.out, "held by")) << free.out;
  EXPECT_TRUE(Contains(free.out, "no answer from the board")) << free.out;
}

TEST_F(CheckTest, AnswersThatAreNoNumberExitFourShownEscaped) {
  // Bytes above 127 are what a wrong line speed makes of a reply.
  StartPtyBoard({"--reply", "?14s?=\\xF0\\x9Ex\"y"});
  RunResult serial = Blockhost({"check", "--comport", "5"}, {"ARDUINO_BLOCK_COM5=" + Link()});
  EXPECT_EQ(serial.exit_code, 4) << serial.out << serial.err;
  EXPECT_TRUE(Contains(serial.out, "the board answered \"\\xF0\\x9Ex\\\"y\", which is no number"))
      << serial.out;
  EXPECT_TRUE(Contains(serial.out, "speed may not match")) << serial.out;

  // The same answer at every speed: no speed is named.
  EXPECT_EQ(TriedSpeeds(serial.out), (std::vector<std::string>{"19200", "38400", "115200"}));

  board_.reset();
  StartUdpBoard({"--reply", "?14s?=HELLO"});
  RunResult udp = Blockhost({"check", "--address", "127.0.0.1", "--udpport", UdpPort()});
  EXPECT_EQ(udp.exit_code, 4) << udp.out << udp.err;
  EXPECT_TRUE(Contains(udp.out, "the board answered \"HELLO\"")) << udp.out;
  EXPECT_EQ(TriedSpeeds(udp.out), std::vector<std::string>{}) << "UDP has no speed to try";
}

TEST_F(CheckTest, TheBlocksOwnDatagramOnPort1600IsNoOtherProgramsAnswer) {
  // The block has UDP port 1600 on every address of this machine, so what
  // it sends there comes back to itself.
  for (const char* address : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(address);
    RunResult own = Blockhost({"check", "--address", address});
    EXPECT_EQ(own.exit_code, 3) << own.out << own.err;
    EXPECT_TRUE(Contains(own.out, "its own command \"?14s?\" came back")) << own.out;
    EXPECT_FALSE(Contains(own.out, "another program")) << own.out;
  }
  // An empty address is this computer by its host name; `set` says so.
  const std::string project = dir_.File("empty.project");
  RunResult set = Blockhost({"set", "--project", project, "interface=ethernet", "address="});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_TRUE(Contains(set.err, "an empty address names this computer")) << set.err;
  RunResult empty = Blockhost({"check", "--project", project});
  if (Contains(empty.err, "Host Lookup Canceled")) {
    GTEST_SKIP() << "this computer's host name does not resolve here";
  }
  EXPECT_EQ(empty.exit_code, 3) << empty.out << empty.err;
  EXPECT_TRUE(Contains(empty.out,
                       "at this computer (the address is empty), UDP port 1600: its "
                       "own command \"?14s?\" came back"))
      << empty.out;
  EXPECT_FALSE(Contains(empty.out, "another program")) << empty.out;

  // A program on another port that answers with the command is another
  // program's answer.
  StartUdpBoard({"--reply", "?14s?=?14s?"});
  RunResult echo = Blockhost({"check", "--address", "127.0.0.1", "--udpport", UdpPort()});
  EXPECT_EQ(echo.exit_code, 4) << echo.out << echo.err;
  EXPECT_TRUE(Contains(echo.out, "another program or firmware answers")) << echo.out;
}

// A board on a pty at a fixed speed and the block at another: check finds
// the board's speed among the dialog's, trying them in the dialog's order
// and stopping at the first that answers.
struct WrongSpeedCase {
  std::string board;
  std::string block;
  std::vector<std::string> tried;
};

class CheckWrongSpeedTest : public CheckTest,
                            public ::testing::WithParamInterface<WrongSpeedCase> {};

TEST_P(CheckWrongSpeedTest, TheBoardsSpeedIsNamedWithItsOwnExitCode) {
  const WrongSpeedCase& c = GetParam();
  const std::string log = dir_.File("commands.log");
  StartPtyBoard({"--baud", c.board, "--analog", "A0=const:321", "--log", log});
  RunResult check =
      Blockhost({"check", "--comport", "5", "--baud", c.block}, {"ARDUINO_BLOCK_COM5=" + Link()});
  EXPECT_EQ(check.exit_code, 8) << check.out << check.err;
  EXPECT_TRUE(Contains(
      check.out, "the board answers at " + c.board + " baud, but the block is set to " + c.block +
                     ": set the dialog's speed to " + c.board +
                     ", or `blockhost set --project F baud=" + c.board + "` for a project file\n"))
      << check.out;
  EXPECT_EQ(TriedSpeeds(check.out), c.tried);
  // At the wrong speeds the board saw no command at all.
  EXPECT_EQ(ReadLines(log), (std::vector<std::string>{"!14mi", "?14s?", "?14s?"}));
}

// For a project, the command that sets the speed, ready to type.
TEST_F(CheckTest, AProjectAtAnotherSpeedGetsTheExactSetCommand) {
  StartPtyBoard({"--baud", "115200", "--analog", "A0=const:321"});
  const std::string project = dir_.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=usb", "comport=5"}).exit_code, 0);
  RunResult check = Blockhost({"check", "--project", project}, {"ARDUINO_BLOCK_COM5=" + Link()});
  EXPECT_EQ(check.exit_code, 8) << check.out << check.err;
  const std::string command = "blockhost set --lib " + std::string(ARDUINO_BLOCK_MODULE) +
                              " --project " + project + " baud=115200";
  EXPECT_TRUE(Contains(check.out, "the block is set to 9600: `" + command + "`")) << check.out;
}

INSTANTIATE_TEST_SUITE_P(EachDialogSpeed, CheckWrongSpeedTest,
                         ::testing::Values(WrongSpeedCase{"9600", "115200", {"9600"}},
                                           WrongSpeedCase{"19200", "9600", {"19200"}},
                                           WrongSpeedCase{"38400", "19200", {"9600", "38400"}},
                                           WrongSpeedCase{
                                               "115200", "9600", {"19200", "38400", "115200"}}),
                         [](const ::testing::TestParamInfo<WrongSpeedCase>& param_info) {
                           return "Board" + param_info.param.board + "Block" +
                                  param_info.param.block;
                         });

TEST_F(CheckTest, ABoardAtTheBlocksOwnSpeedIsNotLookedForElsewhere) {
  const std::string log = dir_.File("commands.log");
  StartPtyBoard({"--baud", "38400", "--analog", "A0=const:654", "--log", log});
  RunResult check =
      Blockhost({"check", "--comport", "5", "--baud", "38400"}, {"ARDUINO_BLOCK_COM5=" + Link()});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "board answered 654 in ")) << check.out;
  EXPECT_EQ(TriedSpeeds(check.out), std::vector<std::string>{});
  std::vector<std::string> expected = {"!14mi"};
  expected.insert(expected.end(), 1 + TimedReads(check.out), "?14s?");
  EXPECT_EQ(ReadLines(log), expected);
}

TEST_F(CheckTest, UnusableAddressesAndBadArgumentsKeepTheirExitCodes) {
  RunResult null_address = Blockhost({"check", "--address", "0.0.0.0"});
  EXPECT_EQ(null_address.exit_code, 2);
  EXPECT_TRUE(Contains(null_address.err, "library error: Null Remote Address")) << null_address.err;

  const std::vector<std::vector<std::string>> kBad = {
      {"check"},
      {"check", "--comport", "3", "--address", "10.0.0.1"},
      {"check", "--project", dir_.File("p"), "--comport", "3"},
      {"check", "--address", "10.0.0.1", "--baud", "9600"},
      {"check", "--comport", "3", "--udpport", "1600"},
      {"check", "--comport", "three"},
      {"check", "--comport", "3", "--baud", "0"},
      {"check", "--address", "10.0.0.1", "--udpport", "70000"},
      {"ports", "--lib", "x.so"},
  };
  for (const auto& args : kBad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    RunResult result = Blockhost(args);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(Contains(result.err, "usage: blockhost")) << result.err;
  }
}

TEST(PortsTest, APtyMappedThroughTheEnvironmentIsListedUnderItsNumber) {
  PtyPair board(5);
  RunResult text = Blockhost({"ports"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_TRUE(Contains(text.out, "COM5    " + board.slave_path() + "  (by ARDUINO_BLOCK_COM5)\n"))
      << text.out;

  RunResult json = Blockhost({"ports", "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_TRUE(Contains(json.out, "{\"com\": 5, \"name\": \"COM5\", \"device\": \"" +
                                     board.slave_path() +
                                     "\", \"mapped_by\": \"ARDUINO_BLOCK_COM5\","))
      << json.out;
  EXPECT_TRUE(Contains(json.out, "\"held_by\": null}")) << json.out;
  EXPECT_EQ(json.out.front(), '[');
  EXPECT_EQ(json.out.substr(json.out.size() - 2), "]\n");
}

}  // namespace
}  // namespace e2e
