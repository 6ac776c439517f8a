// `blockhost run` when things go wrong: a board that answers nothing, a run
// stopped by a signal, an output path that cannot be written, a board that
// hangs up.  Whatever happens, the steps done are kept and the exit code
// tells what happened.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "e2e_harness.h"
#include "pty_pair.h"
#include "udp_peer.h"

namespace e2e {
namespace {

using harness::PtyPair;
using harness::UdpPeer;

constexpr int kExitBoardSilent = 9;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// The settings with only the named pins and analog inputs in use.
std::vector<std::string> OnlyThese(std::vector<std::string> used) {
  std::vector<std::string> all = {"pin2=unused", "pin3=unused", "pin4=unused", "pin5=unused",
                                  "pin6=unused", "pin7=unused", "pin8=unused", "pin9=unused",
                                  "a0=unused",   "a1=unused",   "a2=unused",   "a3=unused",
                                  "a4=unused",   "a5=unused"};
  all.insert(all.end(), used.begin(), used.end());
  return all;
}

class RunTest : public ::testing::Test {
 protected:
  // A project on loopback UDP at `port` with `settings` on top.
  std::string UdpProject(uint16_t port, const std::vector<std::string>& settings) {
    std::vector<std::string> args = {"set", "--project", project_, "address=127.0.0.1",
                                     "udpport=" + std::to_string(port)};
    args.insert(args.end(), settings.begin(), settings.end());
    RunResult set = Blockhost(args);
    EXPECT_EQ(set.exit_code, 0) << set.err;
    return project_;
  }
  ChildProcess StartBoard(std::vector<std::string> args) {
    args.insert(args.begin(), {"--udp", "127.0.0.1:0"});
    return harness::StartBoardsim(BOARDSIM_PATH, args);
  }
  // `blockhost run` on the project with `args`, its summary written to
  // `summary`, under way once it has noted that pin 5 is unused (given
  // --input 5=1 for that): the last line before the first step.
  ChildProcess StartRun(const std::vector<std::string>& args, const std::string& summary) {
    std::string command = "exec '" BLOCKHOST_PATH "' run --lib '" ARDUINO_BLOCK_MODULE
                          "' --project '" +
                          project_ + "' --input 5=1";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " > '" + summary + "'";
    harness::StartOptions options;
    options.ready_text = "pin 5";
    return ChildProcess::Start({"/bin/sh", "-c", command}, options);
  }
  // The steps in a CSV table, its header aside; none when there is no file.
  static size_t CsvRows(const std::string& path) {
    const size_t lines = ReadLines(path).size();
    return lines == 0 ? 0 : lines - 1;
  }

  TempDir dir_;
  const std::string project_ = dir_.File("p.project");
};

TEST_F(RunTest, ABoardThatAnswersNothingOverUdpExitsNineAndKeepsItsSteps) {
  UdpPeer silent;  // bound, so no port-unreachable error either; never answers
  UdpProject(silent.port(), OnlyThese({"pin2=input", "pin6=output"}));
  RunResult run = Blockhost({"run", "--project", project_, "--steps", "3", "--period-ms", "10",
                             "--csv", dir_.File("t.csv")});
  EXPECT_EQ(run.exit_code, kExitBoardSilent) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "blockhost check --lib " + std::string(ARDUINO_BLOCK_MODULE) +
                                    " --project " + project_))
      << run.err;
  EXPECT_EQ(CsvRows(dir_.File("t.csv")), 3u);
  // The commands went out: two modes, then two per step.
  int received = 0;
  while (silent.Receive(std::chrono::milliseconds(200))) ++received;
  EXPECT_EQ(received, 2 + 3 * 2);

  // A slow board that does answer is no silent board.
  ChildProcess slow = StartBoard({"--delay-ms", "40"});
  UdpProject(slow.udp_port(), OnlyThese({"pin2=input", "pin6=output"}));
  RunResult answered = Blockhost({"run", "--project", project_, "--steps", "3"});
  EXPECT_EQ(answered.exit_code, 0) << answered.out << answered.err;
}

TEST_F(RunTest, ABoardThatAnswersNothingOverSerialExitsNine) {
  PtyPair silent(6);  // nobody answers on the master side
  ASSERT_EQ(Blockhost({"set", "--project", project_, "interface=usb", "comport=6"}).exit_code, 0);
  std::vector<std::string> args = {"set", "--project", project_};
  for (const std::string& s : OnlyThese({"pin3=input"})) args.push_back(s);
  ASSERT_EQ(Blockhost(args).exit_code, 0);
  RunResult run = Blockhost({"run", "--project", project_, "--steps", "2"});
  EXPECT_EQ(run.exit_code, kExitBoardSilent) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "blockhost check")) << run.err;
  EXPECT_EQ(silent.ReadAvailable(), "!03mi?03s??03s?") << "the run asked other than pin 3";
  // Said as soon as the first exchange had waited out its limit, long before
  // the first step ended, and with the command to type.
  const size_t no_reply = run.err.find(
      "no reply from COM6 at 9600 baud: flashed for another speed? `blockhost check --lib " +
      std::string(ARDUINO_BLOCK_MODULE) + " --project " + project_ + "`");
  EXPECT_NE(no_reply, std::string::npos) << run.err;
  EXPECT_LT(no_reply, run.err.find("from step 1 on")) << run.err;
}

// A board lost in the last steps leaves the typical step looking fine; the
// stretch it left silent is still reported, and the exit code says so.
TEST_F(RunTest, ABoardLostLateInARunIsReportedWithTheStepWhereItWasLost) {
  // Two modes, then two commands a step: the board answers six steps.
  ChildProcess board = StartBoard({"--hangup-after", "14"});
  UdpProject(board.udp_port(), OnlyThese({"pin2=input", "pin6=output"}));
  RunResult run = Blockhost({"run", "--project", project_, "--steps", "10", "--period-ms", "10"});
  EXPECT_EQ(run.exit_code, kExitBoardSilent) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "does not seem to answer from step 7 on")) << run.err;
  EXPECT_TRUE(Contains(run.err, "no answer from the board in steps 7 to 10 of 10")) << run.err;
  EXPECT_TRUE(Contains(run.err, "no reply from UDP 127.0.0.1:" + std::to_string(board.udp_port())))
      << run.err;
}

// The step clock starts when the first step, with its 2 s opening pause,
// returns: the steps after it keep their period instead of catching up.
TEST_F(RunTest, SerialStepsKeepThePeriodAfterTheOpeningPause) {
  const std::string tty = dir_.File("tty");
  ChildProcess board = harness::StartBoardsim(BOARDSIM_PATH, {"--pty", tty});
  std::vector<std::string> args = {"set", "--project", project_, "interface=usb", "comport=6"};
  for (const std::string& s : OnlyThese({"pin3=input"})) args.push_back(s);
  ASSERT_EQ(Blockhost(args).exit_code, 0);
  const std::string csv = dir_.File("t.csv");
  RunResult run =
      Blockhost({"run", "--project", project_, "--steps", "6", "--period-ms", "200", "--csv", csv},
                {"ARDUINO_BLOCK_COM6=" + tty});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  const std::vector<std::string> rows = ReadLines(csv);
  ASSERT_EQ(rows.size(), 7u);
  std::vector<double> times;
  for (size_t row = 1; row < rows.size(); ++row) times.push_back(std::stod(rows[row]));
  EXPECT_GE(times[1] - times[0], 2000.0 + 200.0) << "the second step did not wait its period";
  for (size_t step = 2; step < times.size(); ++step) {
    SCOPED_TRACE("step " + std::to_string(step + 1));
    EXPECT_GE(times[step] - times[step - 1], 150.0) << "the steps bunched up";
    EXPECT_LT(times[step] - times[step - 1], 300.0);
  }
  EXPECT_TRUE(Contains(run.out, "start           20")) << run.out;
  EXPECT_TRUE(Contains(run.err, "opening COM6 at 9600 baud")) << run.err;
}

// A new USB project at 9600 baud needs some 150 ms a step: without
// --period-ms, the run takes a period it can keep, and says so.
TEST_F(RunTest, TheDefaultPeriodFollowsWhatTheLinkCanKeep) {
  const std::string tty = dir_.File("tty");
  ChildProcess board = harness::StartBoardsim(BOARDSIM_PATH, {"--pty", tty});
  ASSERT_EQ(Blockhost({"set", "--project", project_, "interface=usb", "comport=6"}).exit_code, 0);
  RunResult run =
      Blockhost({"run", "--project", project_, "--steps", "2"}, {"ARDUINO_BLOCK_COM6=" + tty});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "period 200 ms")) << run.out;
  EXPECT_TRUE(Contains(run.err, "so the period is 200 ms rather than 50; --period-ms sets another"))
      << run.err;
  EXPECT_FALSE(Contains(run.err, "overrun")) << run.err;
  RunResult given = Blockhost({"run", "--project", project_, "--steps", "2", "--period-ms", "50"},
                              {"ARDUINO_BLOCK_COM6=" + tty});
  EXPECT_TRUE(Contains(given.out, "period 50 ms")) << given.out;
  EXPECT_TRUE(Contains(given.err, "every step will overrun")) << given.err;
}

// A run that does no step has nothing to write, and the files it would have
// replaced may hold the last good trace.
TEST_F(RunTest, ARunThatDoesNoStepLeavesTheOldFilesAsTheyWere) {
  const std::string csv = dir_.File("keep.csv");
  const std::string svg = dir_.File("keep.svg");
  WriteFile(csv, "the last good trace\n");
  WriteFile(svg, "<svg>the last good plot</svg>");
  // An Ethernet board that answers its pin modes with a text that is no
  // number stops the run in its first step.
  ChildProcess board = StartBoard({"--reply", "?14s?=what"});
  UdpProject(board.udp_port(), OnlyThese({"a0=used"}));
  RunResult run =
      Blockhost({"run", "--project", project_, "--steps", "3", "--csv", csv, "--plot", svg});
  EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
  EXPECT_EQ(ReadFile(csv), "the last good trace\n");
  EXPECT_EQ(ReadFile(svg), "<svg>the last good plot</svg>");
  EXPECT_TRUE(Contains(run.err, "'" + csv + "' is left as it was")) << run.err;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".new-"), std::string::npos) << entry.path();
  }
}

TEST_F(RunTest, ARunStoppedBySigintOrSigtermKeepsItsStepsAndSummary) {
  const std::string log = dir_.File("commands.log");
  ChildProcess board = StartBoard({"--log", log});
  UdpProject(board.udp_port(), OnlyThese({"pin2=input", "a0=used"}));
  const struct {
    int signal_number;
    int exit_code;  // 128 + the signal, as a shell reports it
    const char* name;
  } kSignals[] = {{SIGINT, 130, "SIGINT"}, {SIGTERM, 143, "SIGTERM"}};
  for (const auto& [signal_number, exit_code, name] : kSignals) {
    SCOPED_TRACE(name);
    const size_t logged_before = ReadLines(log).size();
    const std::string csv = dir_.File("t.csv");
    const std::string svg = dir_.File("t.svg");
    const std::string summary = dir_.File("summary.txt");
    ChildProcess run =
        StartRun({"--steps", "100000", "--period-ms", "5", "--csv", csv, "--plot", svg}, summary);
    // Some steps: two modes, then two commands a step.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadLines(log).size() < logged_before + 30 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(ReadLines(log).size(), logged_before + 30) << "the run did not get going";
    EXPECT_EQ(run.Stop(signal_number, std::chrono::seconds(20)), exit_code);

    const size_t rows = CsvRows(csv);
    const size_t exchanged = ReadLines(log).size() - logged_before;
    EXPECT_GE(rows, 14u);
    EXPECT_LT(rows, 100000u);
    // Every step the board saw is in the table.
    EXPECT_EQ(exchanged, 2 + 2 * rows);
    const std::string plot = ReadFile(svg);
    EXPECT_EQ(plot.rfind("<svg", 0), 0u);
    EXPECT_TRUE(Contains(plot, "</svg>"));
    EXPECT_TRUE(
        Contains(ReadFile(summary), "steps           " + std::to_string(rows) + " of 100000"))
        << ReadFile(summary);
  }
}

TEST_F(RunTest, AnOutputPathThatCannotBeWrittenFailsBeforeTheFirstStep) {
  const std::string log = dir_.File("commands.log");
  ChildProcess board = StartBoard({"--log", log});
  UdpProject(board.udp_port(), OnlyThese({"pin2=input"}));
  const std::string old_svg = dir_.File("old.svg");
  const std::string old_csv = dir_.File("old.csv");
  WriteFile(old_svg, "keep me");
  WriteFile(old_csv, "keep me too");
  std::filesystem::create_directory(dir_.File("folder"));
  const struct {
    std::vector<std::string> outputs;
    int error;  // the system's reason, or 0 for one of blockhost's own
  } kCases[] = {
      {{"--csv", dir_.File("nodir/x.csv"), "--plot", old_svg}, ENOENT},
      {{"--csv", old_csv, "--plot", dir_.File("nodir/x.svg")}, ENOENT},
      {{"--csv", dir_.File("folder"), "--plot", old_svg}, EISDIR},
      {{"--plot", dir_.File("folder")}, EISDIR},
      {{"--csv", old_csv, "--plot", dir_.File("./old.csv")}, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.outputs));
    std::vector<std::string> args = {"run", "--project", project_, "--steps", "3"};
    args.insert(args.end(), c.outputs.begin(), c.outputs.end());
    RunResult run = Blockhost(args);
    EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
    if (c.error != 0) {
      EXPECT_TRUE(Contains(run.err, std::strerror(c.error))) << run.err;
    }
    EXPECT_EQ(ReadLines(log).size(), 0u) << "the board was asked something";
    EXPECT_EQ(run.out, "") << "a summary for a run that did not happen";
    EXPECT_EQ(ReadFile(old_svg), "keep me");
    EXPECT_EQ(ReadFile(old_csv), "keep me too");
    EXPECT_FALSE(Exists(dir_.File("nodir")));
  }
  // Checking a path that is free leaves nothing behind when the other fails.
  RunResult run = Blockhost({"run", "--project", project_, "--steps", "3", "--csv",
                             dir_.File("new.csv"), "--plot", dir_.File("nodir/x.svg")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_FALSE(Exists(dir_.File("new.csv")));
}

TEST_F(RunTest, AFileThatCannotBeWrittenAtTheEndKeepsTheOtherAndTheSummary) {
  ChildProcess board = StartBoard({});
  UdpProject(board.udp_port(), OnlyThese({"pin2=input"}));
  const std::string folder = dir_.File("gone");
  std::filesystem::create_directory(folder);
  const std::string svg = dir_.File("t.svg");
  const std::string summary = dir_.File("summary.txt");
  ChildProcess run = StartRun(
      {"--steps", "100", "--period-ms", "10", "--csv", folder + "/t.csv", "--plot", svg}, summary);
  // The folder goes while the run is under way, after the paths were checked.
  std::filesystem::remove(folder);
  EXPECT_EQ(run.WaitForExit(std::chrono::seconds(60)), 1);
  EXPECT_TRUE(Contains(run.stderr_text(), std::strerror(ENOENT))) << run.stderr_text();
  EXPECT_TRUE(Contains(ReadFile(svg), "</svg>"));
  const std::string out = ReadFile(summary);
  EXPECT_TRUE(Contains(out, "steps           100 of 100")) << out;
  EXPECT_TRUE(Contains(out, "plot            " + svg)) << out;
  EXPECT_FALSE(Contains(out, "csv ")) << "the summary names a file that was not written";
}

TEST_F(RunTest, ABoardThatStopsAnsweringMidRunLeavesThePartialFiles) {
  // Three commands a step after three modes: the board answers the first
  // step, five more, and pin 2 and A0 of the seventh, but never A1.
  ChildProcess board = StartBoard({"--hangup-after", "23"});
  UdpProject(board.udp_port(), OnlyThese({"pin2=input", "a0=used", "a1=used"}));
  RunResult run = Blockhost({"run", "--project", project_, "--steps", "50", "--period-ms", "5",
                             "--csv", dir_.File("t.csv"), "--plot", dir_.File("t.svg")});
  EXPECT_EQ(run.exit_code, 2) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "library error: '' ist kein gültiger Gleitkommawert\n")) << run.err;
  EXPECT_TRUE(Contains(run.err, "A1 got no answer")) << run.err;
  EXPECT_FALSE(Contains(run.err, "A0 got no answer")) << run.err;
  EXPECT_TRUE(Contains(run.err, "blockhost check")) << run.err;
  EXPECT_EQ(CsvRows(dir_.File("t.csv")), 6u);
  EXPECT_TRUE(Contains(ReadFile(dir_.File("t.svg")), "</svg>"));
  EXPECT_TRUE(Contains(run.out, "steps           6 of 50")) << run.out;
}

}  // namespace
}  // namespace e2e
