// blockhost as a program: exit codes and messages, the project file, and a
// run against boardsim that leaves a CSV table and an SVG plot.
#include <gtest/gtest.h>

#include <optional>

#include "e2e_harness.h"

namespace e2e {
namespace {

RunResult Blockhost(std::vector<std::string> args) {
  args.insert(args.begin(), BLOCKHOST_PATH);
  args.insert(args.begin() + 2, {"--lib", ARDUINO_BLOCK_MODULE});
  return RunProgram(args);
}

TEST(BlockhostTest, ArgumentErrorsExitOneWithUsage) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "pin2=output"}).exit_code, 0);
  const std::string before = ReadFile(project);
  const std::vector<std::vector<std::string>> kCases = {
      {"frobnicate"},
      {"show"},
      {"info", "--project", project},
      {"set", "--project", project},
      {"set", "--project", project, "pin4=maybe"},
      {"set", "--project", project, "pin1=input"},
      {"set", "--project", project, "baud=fast"},
      {"run", "--project", project, "--steps", "0"},
      {"run", "--project", project, "--period-ms", "-5"},
      {"run", "--project", project, "--input", "12=1"},
      {"run", "--project", project, "--input", "6=sine:1:2"},
      {"run", "--project", project, "--input", "6=square:0:5:0"},
  };
  for (const auto& args : kCases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    RunResult result =
        args[0] == "frobnicate" ? RunProgram({BLOCKHOST_PATH, "frobnicate"}) : Blockhost(args);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("usage: blockhost"), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadFile(project), before) << "a refused command changed the project";
}

TEST(BlockhostTest, LibraryErrorsExitTwoWithTheLibrarysMessage) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "address=0.0.0.0", "udpport=5000"}).exit_code,
            0);
  RunResult run = Blockhost({"run", "--project", project, "--steps", "3"});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("blockhost: library error: Null Remote Address\n"), std::string::npos)
      << run.err;

  // A settings block the library cannot read: the third line is no number.
  std::string text = ReadFile(project);
  const size_t baud = text.find("9600\r\n");
  ASSERT_NE(baud, std::string::npos);
  WriteFile(project, text.replace(baud, 4, "fast"));
  RunResult show = Blockhost({"show", "--project", project});
  EXPECT_EQ(show.exit_code, 2);
  EXPECT_NE(show.err.find("blockhost: library error: "), std::string::npos) << show.err;
  EXPECT_NE(show.err.find("fast"), std::string::npos) << show.err;

  RunResult load = RunProgram({BLOCKHOST_PATH, "info", "--lib", dir.File("none.so")});
  EXPECT_EQ(load.exit_code, 2);
  EXPECT_NE(load.err.find("blockhost: library error: cannot load"), std::string::npos);
}

TEST(BlockhostTest, SetAndShowRoundTripBehindTheHeader) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  RunResult set = Blockhost({"set", "--project", project, "interface=usb", "comport=7",
                             "baud=115200", "address=10.1.2.3", "udpport=4242", "pin2=unused",
                             "pin6=input", "pin9=pwm", "pin8=3", "a1=unused", "a5=0"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  const std::string header = "blockhost project 1\nblock Arduino\n";
  const std::string text = ReadFile(project);
  ASSERT_EQ(text.substr(0, header.size()), header);
  EXPECT_EQ(text.substr(header.size()),
            "1\r\n7\r\n115200\r\n10.1.2.3\r\n4242\r\n"
            "0\r\n1\r\n1\r\n1\r\n1\r\n2\r\n3\r\n3\r\n"
            "1\r\n0\r\n1\r\n1\r\n1\r\n0\r\n");

  RunResult show = Blockhost({"show", "--project", project});
  ASSERT_EQ(show.exit_code, 0) << show.err;
  for (const char* line : {"interface usb (1)\n", "comport   7\n", "baud      115200\n",
                           "address   10.1.2.3\n", "udpport   4242\n", "pin2      unused (0)\n",
                           "pin6      input (1)\n", "pin7      output (2)\n", "pin9      pwm (3)\n",
                           "a1        unused (0)\n", "a4        used (1)\n"}) {
    EXPECT_NE(show.out.find(line), std::string::npos) << line << "\n" << show.out;
  }
  // A second set keeps what the first one wrote.
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=ethernet"}).exit_code, 0);
  EXPECT_NE(Blockhost({"show", "--project", project}).out.find("pin9      pwm (3)\n"),
            std::string::npos);

  WriteFile(project, "not a project\n");
  RunResult foreign = Blockhost({"show", "--project", project});
  EXPECT_EQ(foreign.exit_code, 1);
  EXPECT_NE(foreign.err.find("is not a blockhost project"), std::string::npos) << foreign.err;
}

TEST(BlockhostTest, ConfigureWithoutADisplayKeepsTheProject) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "comport=9", "pin3=pwm"}).exit_code, 0);
  const std::string before = ReadFile(project);
  RunResult result =
      RunProgram({BLOCKHOST_PATH, "configure", "--lib", ARDUINO_BLOCK_MODULE, "--project", project},
                 {"DISPLAY="});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.err.find("Arduino settings dialog: no display available; settings unchanged"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.out.find("comport   9"), std::string::npos) << result.out;
  EXPECT_EQ(ReadFile(project), before);
  EXPECT_EQ(Blockhost({"configure"}).exit_code, 1);
}

TEST(BlockhostTest, RunWritesCsvAndSvg) {
  TempDir dir;
  std::string error;
  std::optional<ChildProcess> board = harness::TryStartBoardsim(
      BOARDSIM_PATH, {"--udp", "127.0.0.1:0", "--wire", "6=2", "--analog", "A0=const:321"}, &error);
  ASSERT_TRUE(board) << error;
  const std::string port = std::to_string(board->udp_port());
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "address=127.0.0.1", "udpport=" + port,
                       "pin3=unused", "pin4=unused", "pin5=unused", "pin9=pwm", "a1=unused",
                       "a2=unused", "a3=unused", "a4=unused", "a5=unused"})
                .exit_code,
            0);
  constexpr int kSteps = 6;
  RunResult run = Blockhost({"run", "--project", project, "--steps", std::to_string(kSteps),
                             "--period-ms", "10", "--input", "6=5", "--input", "9=2000", "--csv",
                             dir.File("t.csv"), "--plot", dir.File("t.svg")});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("steps           6 of 6"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("step time       min "), std::string::npos) << run.out;

  std::vector<std::string> rows = ReadLines(dir.File("t.csv"));
  ASSERT_EQ(rows.size(), kSteps + 1u);
  EXPECT_EQ(rows[0].substr(0, 23), "time_ms,in Pin2,in Pin3");
  for (const std::string& row : rows) EXPECT_EQ(std::count(row.begin(), row.end(), ','), 22);
  // The last row: pin 6 high, the clamped PWM level, pin 2 reading the wire
  // from pin 6, and A0's constant.
  const std::string& last = rows.back();
  std::vector<std::string> cells;
  for (size_t at = 0, next; at != std::string::npos;
       at = next == std::string::npos ? next : next + 1) {
    next = last.find(',', at);
    cells.push_back(last.substr(at, next == std::string::npos ? next : next - at));
  }
  EXPECT_EQ(cells[5], "5");     // in Pin6
  EXPECT_EQ(cells[8], "1023");  // in Pin9, clamped by the block
  EXPECT_EQ(cells[9], "5");     // out Pin2
  EXPECT_EQ(cells[17], "321");  // out Analog Input A0

  const std::string svg = ReadFile(dir.File("t.svg"));
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  for (const char* legend : {">in Pin6<", ">in Pin9<", ">out Pin2<", ">out Analog Input A0<"}) {
    EXPECT_NE(svg.find(legend), std::string::npos) << legend;
  }
  EXPECT_EQ(svg.find(">out Analog Input A1<"), std::string::npos) << "an unused input is plotted";
}

TEST(BlockhostTest, RunRefusesAPortThatCannotBeOpened) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=usb", "comport=77"}).exit_code, 0);
  RunResult run = RunProgram(
      {BLOCKHOST_PATH, "run", "--lib", ARDUINO_BLOCK_MODULE, "--project", project, "--steps", "2"},
      {"ARDUINO_BLOCK_COM77=" + dir.File("missing")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("not ready to simulate: serial port COM77"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace e2e
