// The Windows build under Wine: blockhost.exe loading ArduinoBlock.dll,
// driven against the native boardsim over loopback UDP and over a
// pseudo-terminal linked into the Wine prefix as COM5 and as COM12 (which the
// block opens as \\.\COM12), and compared with the Linux build on the same
// board, project and inputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "e2e_harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

enum class Build { kLinux, kWindows };
enum class Link { kUdp, kCom5, kCom12 };

// The block's message for a reply that is no number.  The DLL raises its
// messages in code page 1252 and blockhost passes them on unchanged, so the
// Windows build prints the u-umlaut as the single byte 0xFC.
const std::string kCommaReplyMessageCp1252 = "'1,5' ist kein g\xfcltiger Gleitkommawert";

// The Windows build these tests run, as the probe that ./run and the Windows
// builds' CTest scripts ask chooses it: the product (win32) under 32-bit Wine
// wherever that runs, else the 64-bit test build of the same sources (win64)
// under 64-bit Wine.  Empty, with the reason, when neither runs here.
struct WindowsBuild {
  std::string name;
  std::string why_not;
};

const WindowsBuild& ChosenWindowsBuild() {
  static const WindowsBuild chosen = [] {
    const RunResult probe = RunProgram({WINE_PROBE, "--choose", "--need-wine"});
    std::string out = probe.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    if (probe.exit_code == 0) return WindowsBuild{out, ""};
    return WindowsBuild{"", out.empty() ? "the Wine probe failed: " + probe.err : out};
  }();
  return chosen;
}

std::string WindowsDir() {
  return ChosenWindowsBuild().name == "win64" ? WIN64_BUILD_DIR : WIN32_BUILD_DIR;
}
std::string WindowsHost() { return WindowsDir() + "/blockhost.exe"; }
std::string WindowsLibrary() { return WindowsDir() + "/ArduinoBlock.dll"; }

// What keeps the Windows build from running here, or "" when nothing does.
std::string WhyWindowsCannotRun() {
  const WindowsBuild& chosen = ChosenWindowsBuild();
  if (chosen.name.empty()) return "Windows tests skipped: " + chosen.why_not;
  for (const std::string& file : {WindowsHost(), WindowsLibrary()}) {
    if (access(file.c_str(), R_OK) != 0) {
      return file + " is not built (cmake --preset " + chosen.name + " && cmake --build build/" +
             chosen.name + ")";
    }
  }
  return "";
}

// The prefix wine-run.sh uses for the chosen build's programs.
std::string WinePrefix() {
  const char* prefix = getenv("WINEPREFIX");
  if (prefix && *prefix) return prefix;
  return std::string(DEFAULT_WINE_PREFIX) + (ChosenWindowsBuild().name == "win64" ? "64" : "");
}

// A Linux path as a Windows program names it: Wine maps drive Z: to the root.
std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

// Runs the blockhost of `build`; args[0] is its command.  Absolute paths
// among the arguments are translated for Windows, and the Windows build's
// text-mode CR LF line ends become LF, so both builds' outputs compare
// directly.
RunResult Blockhost(Build build, std::vector<std::string> args,
                    const std::vector<std::string>& environment = {}) {
  if (build == Build::kLinux) {
    args.insert(args.begin() + 1, {"--lib", ARDUINO_BLOCK_MODULE});
    args.insert(args.begin(), BLOCKHOST_PATH);
    return RunProgram(args, environment);
  }
  for (std::string& arg : args) {
    if (arg.starts_with('/')) arg = WindowsPath(arg);
  }
  args.insert(args.begin() + 1, {"--lib", WindowsPath(WindowsLibrary())});
  args.insert(args.begin(), {WINE_RUN, WindowsHost()});
  RunResult result = RunProgram(args, environment);
  result.out = WithoutCarriageReturns(result.out);
  result.err = WithoutCarriageReturns(result.err);
  return result;
}

// The prefix is created on the first Wine run; the COM port links go into
// its dosdevices directory, so it has to exist before the first link.
void PrepareWinePrefix() {
  static const bool ready = [] {
    RunResult help = RunProgram({WINE_RUN, WindowsHost(), "help"});
    if (help.exit_code != 0) {
      throw std::runtime_error("blockhost.exe does not run under Wine: " + help.err);
    }
    return true;
  }();
  (void)ready;
}

// One boardsim with its command log, on one link.  A serial board's
// pseudo-terminal is also linked into the Wine prefix as its COM port, for as
// long as the board lives.
class Board {
 public:
  Board(Link link, const TempDir& dir, const std::vector<std::string>& extra) : link_(link) {
    static int count = 0;
    const std::string name = "board" + std::to_string(++count);
    log_path_ = dir.File(name + ".log");
    tty_path_ = dir.File(name + ".tty");
    std::vector<std::string> args{"--pty", tty_path_};
    if (link == Link::kUdp) args = {"--udp", "127.0.0.1:0"};
    args.insert(args.end(), {"--log", log_path_});
    args.insert(args.end(), extra.begin(), extra.end());
    process_.emplace(harness::StartBoardsim(BOARDSIM_PATH, args));
    if (link == Link::kUdp) {
      udp_port_ = std::to_string(process_->udp_port());
    } else {
      com_link_ = WinePrefix() + "/dosdevices/com" + std::to_string(ComPort());
      std::filesystem::remove(com_link_);
      std::filesystem::create_symlink(tty_path_, com_link_);
    }
  }
  ~Board() {
    std::error_code ignored;
    if (!com_link_.empty()) std::filesystem::remove(com_link_, ignored);
  }
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  int ComPort() const { return link_ == Link::kCom12 ? 12 : 5; }
  Lines Log() const { return ReadLines(log_path_); }

  // The blockhost settings that point a block at this board.
  std::vector<std::string> LinkSettings() const {
    if (link_ == Link::kUdp)
      return {"interface=ethernet", "address=127.0.0.1", "udpport=" + udp_port_};
    return {"interface=usb", "comport=" + std::to_string(ComPort()), "baud=115200"};
  }
  // What the Linux build needs to find the port; the Windows build finds it
  // through the prefix and ignores the variable.
  std::vector<std::string> Environment() const {
    if (link_ == Link::kUdp) return {};
    return {"ARDUINO_BLOCK_COM" + std::to_string(ComPort()) + "=" + tty_path_};
  }

 private:
  Link link_;
  std::string log_path_;
  std::string tty_path_;
  std::string udp_port_;
  std::string com_link_;
  std::optional<ChildProcess> process_;
};

// Every pin and analog input unused; tests switch on what they look at.
const std::vector<std::string> kAllUnused = {
    "pin2=unused", "pin3=unused", "pin4=unused", "pin5=unused", "pin6=unused",
    "pin7=unused", "pin8=unused", "pin9=unused", "a0=unused",   "a1=unused",
    "a2=unused",   "a3=unused",   "a4=unused",   "a5=unused"};

std::vector<std::string> Join(std::vector<std::string> first,
                              const std::vector<std::string>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

// The comma-separated cells of the last line of a CSV file.
std::vector<std::string> LastRowCells(const std::string& path) {
  Lines rows = ReadLines(path);
  std::vector<std::string> cells;
  if (rows.empty()) return cells;
  const std::string& row = rows.back();
  size_t at = 0;
  for (size_t comma; (comma = row.find(',', at)) != std::string::npos; at = comma + 1) {
    cells.push_back(row.substr(at, comma - at));
  }
  cells.push_back(row.substr(at));
  return cells;
}

// From "outputs at the end:" to the end of blockhost's summary.
std::string OutputsAtTheEnd(const std::string& summary) {
  const size_t start = summary.find("outputs at the end:");
  return start == std::string::npos ? std::string() : summary.substr(start);
}

class WineRunTest : public ::testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
    PrepareWinePrefix();
  }

  // Writes a project with `build`'s blockhost, pointed at `board`, with
  // `settings` on top of the defaults.
  std::string Project(Build build, const Board& board, const std::vector<std::string>& settings) {
    const std::string path = dir_.File("p" + std::to_string(++projects_) + ".project");
    RunResult set =
        Blockhost(build, Join(Join({"set", "--project", path}, board.LinkSettings()), settings));
    if (set.exit_code != 0) throw std::runtime_error("set failed: " + set.err);
    return path;
  }

  RunResult Run(Build build, const Board& board, const std::string& project, int steps,
                const std::vector<std::string>& extra = {}) {
    return Blockhost(
        build,
        Join({"run", "--project", project, "--steps", std::to_string(steps), "--period-ms", "20"},
             extra),
        board.Environment());
  }

  TempDir dir_;
  int projects_ = 0;
};

TEST_P(WineRunTest, DefaultRunSetsModesThenTakesOneStep) {
  Board board(GetParam(), dir_, {});
  RunResult run = Run(Build::kWindows, board, Project(Build::kWindows, board, {}), 1);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("steps           1 of 1"), std::string::npos) << run.out;
  EXPECT_EQ(board.Log(), (Lines{"!02mi", "!03mi", "!04mi", "!05mi", "!06mo", "!07mo", "!08mo",
                                "!09mo", "!14mi", "!15mi", "!16mi", "!17mi", "!18mi", "!19mi",
                                "?02s?", "?03s?", "?04s?", "?05s?", "!06s0", "!07s0", "!08s0",
                                "!09s0", "?14s?", "?15s?", "?16s?", "?17s?", "?18s?", "?19s?"}));
}

TEST_P(WineRunTest, PwmInputIsClampedBeforeItReachesTheBoard) {
  Board board(GetParam(), dir_, {});
  const std::string project = Project(Build::kWindows, board, Join(kAllUnused, {"pin9=pwm"}));
  const std::string csv = dir_.File("pwm.csv");
  RunResult run = Run(Build::kWindows, board, project, 1, {"--input", "9=1100.2", "--csv", csv});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(board.Log(), (Lines{"!09mo", "pwm09", "w1023"}));
  // The block clamps the input in place; the trace records what it left.
  std::vector<std::string> cells = LastRowCells(csv);
  ASSERT_EQ(cells.size(), 23u);
  EXPECT_EQ(cells[8], "1023");  // in Pin9
}

TEST_P(WineRunTest, CommaReplyStopsTheRunWithTheLibrarysMessage) {
  Board board(GetParam(), dir_, {"--analog", "A0=const:100", "--reply", "?17s?=1,5"});
  const std::string project =
      Project(Build::kWindows, board,
              Join(kAllUnused, {"a0=used", "a1=used", "a2=used", "a3=used", "a4=used", "a5=used"}));
  RunResult run = Run(Build::kWindows, board, project, 3);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("blockhost: the run stopped at step 1 of 3\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("blockhost: library error: " + kCommaReplyMessageCp1252 + "\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(board.Log(), (Lines{"!14mi", "!15mi", "!16mi", "!17mi", "!18mi", "!19mi", "?14s?",
                                "?15s?", "?16s?", "?17s?"}));
}

TEST_P(WineRunTest, BothBuildsSendTheSameCommandsAndReadTheSameOutputs) {
  // Constant inputs and analog sources, so that both runs see exactly the
  // same values; pin 6 is wired back to pin 2.
  const std::vector<std::string> board_options = {"--wire",       "6=2",      "--analog",
                                                  "A0=const:321", "--analog", "A1=const:7"};
  const std::vector<std::string> settings = {"pin9=pwm", "a3=unused"};
  const std::vector<std::string> inputs = {"--input", "6=5",   "--input", "7=2.5",
                                           "--input", "8=2.6", "--input", "9=511.5"};
  constexpr int kSteps = 3;
  Lines logs[2];
  std::string outputs[2];
  for (Build build : {Build::kLinux, Build::kWindows}) {
    const int k = build == Build::kLinux ? 0 : 1;
    SCOPED_TRACE(k == 0 ? "Linux build" : "Windows build");
    Board board(GetParam(), dir_, board_options);
    RunResult run = Run(build, board, Project(build, board, settings), kSteps, inputs);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    logs[k] = board.Log();
    outputs[k] = OutputsAtTheEnd(run.out);
  }
  // 13 mode commands, then per step 4 digital reads, 3 digital writes, the
  // PWM pair and 5 analog reads.
  EXPECT_EQ(logs[0].size(), 13u + kSteps * 14u);
  EXPECT_EQ(logs[1], logs[0]);
  EXPECT_NE(outputs[0].find("out Pin2               5\n"), std::string::npos) << outputs[0];
  EXPECT_NE(outputs[0].find("out Analog Input A0    321\n"), std::string::npos) << outputs[0];
  EXPECT_EQ(outputs[1], outputs[0]);
}

// The DLL against the real firmware on avrboard's simulated Uno: the
// Ethernet image with the real Ethernet library on a W5100 bridged to
// loopback, and the 115200-baud serial image on a pseudo-terminal that the
// prefix knows as COM5.  Both builds run the same project against the same
// board and read the same outputs, and the chip's pins show what the block
// wrote.
TEST(WineFirmwareTest, TheDllRunsTheRealFirmwareOverEthernetAndSerial) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  if (const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) {
    GTEST_SKIP() << why;
  }
  PrepareWinePrefix();
  // Serial first: the Ethernet image needs the Arduino Ethernet library,
  // and without it the rest of the test is skipped.
  for (const bool ethernet : {false, true}) {
    SCOPED_TRACE(ethernet ? "Ethernet" : "serial");
    const std::string image = std::string(FIRMWARE_DIR) + "/uno/arduino_block-" +
                              (ethernet ? "ethernet" : "115200") + ".elf";
    if (access(image.c_str(), R_OK) != 0) {
      if (ethernet) {
        GTEST_SKIP() << "no Ethernet image at " << image
                     << ": firmware/build.sh builds it where it finds the Arduino Ethernet "
                        "library (set ARDUINO_ETHERNET_LIBRARY)";
      }
      FAIL() << "no image at " << image << " (firmware/build.sh builds it)";
    }
    TempDir dir;
    const std::string tty = dir.File("uno.tty");
    std::vector<std::string> args = {"--firmware", image,    "--log", dir.File("pins.log"),
                                     "--pin",      "2=high", "--adc", "A0=321"};
    if (ethernet) {
      args.insert(args.end(), {"--ethernet", "127.0.0.1:0"});
    } else {
      args.insert(args.end(), {"--pty", tty});
    }
    ChildProcess board = harness::StartAvrboard(AVRBOARD_PATH, args);
    std::vector<std::string> settings = Join(kAllUnused, {"pin2=input", "pin9=pwm", "a0=used"});
    std::vector<std::string> environment;
    std::string com_link;
    if (ethernet) {
      settings = Join(settings, {"interface=ethernet", "address=127.0.0.1",
                                 "udpport=" + std::to_string(board.udp_port())});
    } else {
      settings = Join(settings, {"interface=usb", "comport=5", "baud=115200"});
      environment = {"ARDUINO_BLOCK_COM5=" + tty};
      com_link = WinePrefix() + "/dosdevices/com5";
      std::filesystem::remove(com_link);
      std::filesystem::create_symlink(tty, com_link);
    }
    std::string outputs[2];
    for (Build build : {Build::kLinux, Build::kWindows}) {
      const int k = build == Build::kLinux ? 0 : 1;
      SCOPED_TRACE(k == 0 ? "Linux build" : "Windows build");
      const std::string project = dir.File("p" + std::to_string(k) + ".project");
      RunResult set = Blockhost(build, Join({"set", "--project", project}, settings));
      ASSERT_EQ(set.exit_code, 0) << set.err;
      RunResult run = Blockhost(build,
                                {"run", "--project", project, "--steps", "3", "--period-ms", "20",
                                 "--input", "9=" + std::to_string(100 + 400 * k)},
                                environment);
      ASSERT_EQ(run.exit_code, 0) << run.err << board.stderr_text();
      outputs[k] = OutputsAtTheEnd(run.out);
    }
    if (!com_link.empty()) std::filesystem::remove(com_link);
    EXPECT_NE(outputs[1].find("out Pin2               5\n"), std::string::npos) << outputs[1];
    EXPECT_NE(outputs[1].find("out Analog Input A0    321\n"), std::string::npos) << outputs[1];
    EXPECT_EQ(outputs[1], outputs[0]);
    // 100 >> 2 from the Linux run, then 500 >> 2 from the Windows run.
    usleep(100 * 1000);
    const std::string log = ReadFile(dir.File("pins.log"));
    EXPECT_NE(log.find("pin 9 pwm 25\n"), std::string::npos) << log;
    EXPECT_NE(log.find("pin 9 pwm 125\n"), std::string::npos) << log;
    EXPECT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
  }
}

// A project written by one build and read back by the other: both keep the
// block's settings byte for byte, and both describe them alike.
TEST(CrossBuildSettingsTest, ProjectsPassBetweenTheBuildsByteForByte) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  const std::vector<std::string> kSettings = {"interface=usb",    "comport=12",   "baud=57600",
                                              "address=10.0.0.7", "udpport=4242", "pin2=unused",
                                              "pin5=input",       "pin7=pwm",     "pin8=1",
                                              "a2=unused",        "a5=unused"};
  std::string written[2];
  for (Build from : {Build::kLinux, Build::kWindows}) {
    const Build to = from == Build::kLinux ? Build::kWindows : Build::kLinux;
    const int k = from == Build::kLinux ? 0 : 1;
    SCOPED_TRACE(k == 0 ? "written by Linux, read by Windows"
                        : "written by Windows, read by Linux");
    const std::string project = dir.File("from" + std::to_string(k) + ".project");
    // --force: 57600 baud and PWM on pin 7 are not the dialog's, yet
    // stored files may hold them.
    RunResult set = Blockhost(from, Join({"set", "--force", "--project", project}, kSettings));
    ASSERT_EQ(set.exit_code, 0) << set.err;
    written[k] = ReadFile(project);

    RunResult shown = Blockhost(to, {"show", "--project", project});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_EQ(shown.out, set.out);
    EXPECT_NE(shown.out.find("pin7      pwm (3)\n"), std::string::npos) << shown.out;

    // The other build loads the block and saves it again, changing nothing.
    RunResult resaved = Blockhost(to, {"set", "--project", project, "interface=usb"});
    ASSERT_EQ(resaved.exit_code, 0) << resaved.err;
    EXPECT_EQ(ReadFile(project), written[k]);
  }
  EXPECT_EQ(written[1], written[0]);
  EXPECT_NE(written[0].find("\r\n12\r\n57600\r\n10.0.0.7\r\n4242\r\n"), std::string::npos);
}

// A settings block the Windows build cannot read fails with the library's
// message, and the project stays as it was.
TEST(CrossBuildSettingsTest, UnreadableSettingsFailWithoutChangingTheProject) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  const std::string project = dir.File("bad.project");
  ASSERT_EQ(Blockhost(Build::kLinux, {"set", "--project", project, "pin3=pwm"}).exit_code, 0);
  std::string text = ReadFile(project);
  const size_t baud = text.find("\r\n9600\r\n");
  ASSERT_NE(baud, std::string::npos);
  WriteFile(project, text.replace(baud + 2, 4, "fast"));
  const std::string before = ReadFile(project);
  for (const char* command : {"show", "set"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {command, "--project", project};
    if (args[0] == "set") args.push_back("pin4=input");
    RunResult result = Blockhost(Build::kWindows, args);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("blockhost: library error: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("fast"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(project), before);
  }
  // Nothing was left beside the project either.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"bad.project"});
}

// The Windows build's own ways of failing: a library that does not load, a
// missing project and bad arguments, each with its exit code and message.
TEST(WindowsBlockhostTest, ErrorsExitAsOnLinux) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  RunResult load =
      RunProgram({WINE_RUN, WindowsHost(), "info", "--lib", WindowsPath(dir.File("none.dll"))});
  EXPECT_EQ(load.exit_code, 2);
  EXPECT_NE(load.err.find("blockhost: library error: cannot load '" +
                          WindowsPath(dir.File("none.dll")) + "': "),
            std::string::npos)
      << load.err;

  RunResult missing = Blockhost(Build::kWindows, {"show", "--project", dir.File("none")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("blockhost: cannot open '"), std::string::npos) << missing.err;

  const std::string project = dir.File("p.project");
  ASSERT_EQ(
      Blockhost(Build::kWindows, {"set", "--force", "--project", project, "pin4=pwm"}).exit_code,
      0);
  const std::string before = ReadFile(project);
  RunResult refused = Blockhost(Build::kWindows, {"set", "--project", project, "pin4=maybe"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("pin4: 'maybe' is none of unused, input, output, pwm"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("usage: blockhost"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(project), before);
}

// The processes whose parent is `parent`, from their /proc/<pid>/stat.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadFile(entry.path() / "stat");
    // "pid (command) state ppid ...": the command may hold spaces and
    // parentheses, so the fields after it are counted from the last ')'.
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) continue;
    int ppid = 0;
    if (sscanf(stat.c_str() + end + 1, " %*c %d", &ppid) == 1 && ppid == parent) {
      children.push_back(std::stoi(name));
    }
  }
  return children;
}

// Ctrl-C in blockhost.exe's console: Wine hands a SIGINT to the process as
// the CTRL_C_EVENT that blockhost's console handler takes, as Windows does
// for a key press.  The run stops after the step it is in, keeps every step
// in its table and summary, and exits 130 as on Linux.
TEST(WindowsBlockhostTest, CtrlCStopsARunAndKeepsItsSteps) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  Board board(Link::kUdp, dir, {});
  const std::string project = dir.File("p.project");
  ASSERT_EQ(
      Blockhost(Build::kWindows, Join(Join({"set", "--project", project}, board.LinkSettings()),
                                      Join(kAllUnused, {"pin2=input"})))
          .exit_code,
      0);
  const std::string csv = dir.File("t.csv");
  const std::string summary = dir.File("summary.txt");
  const std::string command = "echo started >&2; exec '" WINE_RUN "' '" + WindowsHost() +
                              "' run --lib '" + WindowsPath(WindowsLibrary()) + "' --project '" +
                              WindowsPath(project) + "' --steps 100000 --period-ms 5 --csv '" +
                              WindowsPath(csv) + "' > '" + summary + "'";
  harness::StartOptions options;
  options.ready_text = "started";
  ChildProcess run = ChildProcess::Start({"/bin/sh", "-c", command}, options);
  // wine-run.sh waits for the Windows program, its one child.
  std::vector<pid_t> program;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((board.Log().size() < 20 || program.size() != 1) &&
         std::chrono::steady_clock::now() < deadline) {
    usleep(50 * 1000);
    program = ChildrenOf(run.pid());
  }
  ASSERT_GE(board.Log().size(), 20u) << "the run did not get going";
  ASSERT_EQ(program.size(), 1u);
  ASSERT_EQ(kill(program[0], SIGINT), 0);
  EXPECT_EQ(run.WaitForExit(std::chrono::seconds(30)), 130) << run.stderr_text();

  const Lines log = board.Log();
  const size_t rows = ReadLines(csv).size() - 1;
  EXPECT_GE(rows, 19u);
  EXPECT_EQ(log.size(), 1 + rows) << "a step the board saw is missing from the table";
  EXPECT_EQ(log.front(), "!02mi");
  const std::string text = WithoutCarriageReturns(ReadFile(summary));
  EXPECT_NE(text.find("steps           " + std::to_string(rows) + " of 100000,"), std::string::npos)
      << text;
  EXPECT_NE(run.stderr_text().find("stopped after " + std::to_string(rows) + " of 100000 steps"),
            std::string::npos)
      << run.stderr_text();
}

// The DLL's own serial tests (tests/win32/serial_port_test.cpp) on boardsim's
// pseudo-terminal as COM5 and as COM12.  Wine lets a second handle open a
// serial port that another holds with share mode 0, so the case of a port
// held by another program skips under Wine with its reason and runs on
// Windows; that reason is passed on here.
TEST(SerialPortUnderWineTest, DllSerialTestsPassOnComPortsBelowAndAboveTen) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  const std::string dll_test = WindowsDir() + "/dll_test.exe";
  if (access(dll_test.c_str(), R_OK) != 0) GTEST_SKIP() << dll_test << " is not built";
  PrepareWinePrefix();
  TempDir dir;
  for (Link link : {Link::kCom5, Link::kCom12}) {
    Board board(link, dir, {});
    const std::string port = std::to_string(board.ComPort());
    SCOPED_TRACE("COM" + port);
    RunResult result = RunProgram({WINE_RUN, dll_test, "--gtest_filter=SerialPortTest.*"},
                                  {"ARDUINO_BLOCK_TEST_COM=" + port});
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[       OK ] SerialPortTest.PresentPortIsReadyAndAnAbsentOneIsNot"),
              std::string::npos)
        << result.out;
    const size_t reason = result.out.find("Wine does not enforce share mode 0");
    EXPECT_NE(reason, std::string::npos) << result.out;
    if (reason != std::string::npos) {
      std::cout << "COM" << port << ": SerialPortTest.PortHeldByAnotherProgramIsNotReady skipped: "
                << WithoutCarriageReturns(
                       result.out.substr(reason, result.out.find('\n', reason) - reason))
                << "\n";
    }
  }
}

// `blockhost check` of the Windows build: the same outcomes and exit codes
// as on Linux, on a COM port from the prefix's dosdevices links and on UDP.
TEST(WindowsCheckTest, AnsweringSilentAndGarbledBoardsExitZeroThreeAndFour) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  {
    Board board(Link::kCom12, dir, {"--analog", "A0=const:444"});
    RunResult answered = Blockhost(Build::kWindows, {"check", "--comport", "12"});
    EXPECT_EQ(answered.exit_code, 0) << answered.out << answered.err;
    EXPECT_NE(answered.out.find("link: COM12 (\\\\.\\COM12) at 9600 baud\n"), std::string::npos)
        << answered.out;
    EXPECT_NE(answered.out.find("board answered 444 in "), std::string::npos) << answered.out;
  }
  {
    Board board(Link::kUdp, dir, {"--reply", "?14s?=\\xF0OK"});
    const std::string port = board.LinkSettings()[2].substr(std::string("udpport=").size());
    RunResult garbled =
        Blockhost(Build::kWindows, {"check", "--address", "127.0.0.1", "--udpport", port});
    EXPECT_EQ(garbled.exit_code, 4) << garbled.out << garbled.err;
    EXPECT_NE(garbled.out.find("the board answered \"\\xF0OK\", which is no number"),
              std::string::npos)
        << garbled.out;
  }
  RunResult silent =
      Blockhost(Build::kWindows, {"check", "--address", "127.0.0.1", "--udpport", "9"});
  EXPECT_EQ(silent.exit_code, 3) << silent.out << silent.err;
  EXPECT_NE(silent.out.find("no answer from the board"), std::string::npos) << silent.out;
  // This machine's own port 1600 is the block's: its command comes back, and
  // Windows' own address check (local_address_win32.cpp) tells it for one.
  RunResult echo =
      Blockhost(Build::kWindows, {"check", "--address", "127.0.0.1", "--udpport", "1600"});
  EXPECT_EQ(echo.exit_code, 3) << echo.out << echo.err;
  EXPECT_NE(echo.out.find("nothing but the block itself listens at 127.0.0.1, UDP port 1600"),
            std::string::npos)
      << echo.out;
}

// Windows lists the ports its serial drivers announce in the registry.
// Wine's mount manager announces the ports it found when the prefix started;
// a port linked in later is announced here by hand, as a driver would.  The
// announcement lives in a volatile key, gone when the Wine server stops, so
// it is made in the same Wine session as the listing.
TEST(WindowsPortsTest, APortAnnouncedInTheRegistryIsListedUnderItsName) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  Board board(Link::kCom12, dir, {});
  const std::string host = WindowsPath(WindowsHost());
  const std::string session =
      "reg add HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM /v \\Device\\ArduinoBlockTest12 /d COM12 /f"
      " >nul & " +
      host + " ports & echo --- & " + host + " ports --json";
  // cmd is Wine's own, so the prefix's kind is named for it.
  RunResult result =
      RunProgram({WINE_RUN, "cmd", "/c", session}, {"WINEARCH=" + ChosenWindowsBuild().name});
  const std::string out = WithoutCarriageReturns(result.out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const size_t split = out.find("\n---");  // cmd echoes "--- "
  ASSERT_NE(split, std::string::npos) << out << result.err;
  const std::string text = out.substr(0, split + 1);
  const std::string json = out.substr(split);
  EXPECT_NE(text.find("COM12   \\\\.\\COM12  (by \\Device\\ArduinoBlockTest12)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(json.find("{\"com\": 12, \"name\": \"COM12\", \"device\": \"\\\\\\\\.\\\\COM12\""),
            std::string::npos)
      << json;
}

// An FTDI port as its driver announces it: the Ports-class device whose
// Device Parameters hold its PortName and LatencyTimer.  ports shows the
// timer, latency shows it, sets it in that key and shows it set.
TEST(WindowsPortsTest, AnFtdiPortsLatencyTimerIsShownAndSet) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  PrepareWinePrefix();
  TempDir dir;
  const std::string device =
      "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\FTDIBUS\\"
      "VID_0403+PID_6001+A10K5XYZA\\0000";
  // REG_MULTI_SZ "FTDIBUS\COMPORT&VID_0403&PID_6001".
  std::string hardware_id;
  for (char c : std::string("FTDIBUS\\COMPORT&VID_0403&PID_6001")) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x,", static_cast<unsigned char>(c));
    hardware_id += hex;
  }
  WriteFile(dir.File("ftdi.reg"),
            "REGEDIT4\n\n[" + device +
                "]\n"
                "\"ClassGUID\"=\"{4D36E978-E325-11CE-BFC1-08002BE10318}\"\n"
                "\"HardwareID\"=hex(7):" +
                hardware_id + "00,00\n\n[" + device +
                "\\Device Parameters]\n\"PortName\"=\"COM13\"\n\"LatencyTimer\"=dword:00000010\n");
  const std::string host = WindowsPath(WindowsHost());
  const std::string session =
      "reg add HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM /v \\Device\\VCP0 /d COM13 /f >nul & regedit "
      "/S " +
      WindowsPath(dir.File("ftdi.reg")) + " & " + host + " ports & " + host +
      " latency --comport 13 2 & " + host + " latency --comport 13";
  RunResult result =
      RunProgram({WINE_RUN, "cmd", "/c", session}, {"WINEARCH=" + ChosenWindowsBuild().name});
  const std::string out = WithoutCarriageReturns(result.out);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  for (const char* said :
       {"FTDI latency timer 16 ms (`blockhost latency --comport 13 1` lowers it)\n",
        "COM13 (\\\\.\\COM13): FTDI latency timer set to 2 ms (it was 16 ms)\n"
        "it takes effect the next time a program opens the port",
        "COM13 (\\\\.\\COM13): FTDI latency timer 2 ms (HKLM\\SYSTEM\\CurrentControlSet\\Enum\\"
        "FTDIBUS\\VID_0403+PID_6001+A10K5XYZA\\0000\\Device Parameters)\n"}) {
    EXPECT_NE(out.find(said), std::string::npos) << said << "\n" << out << result.err;
  }
}

// The serial link's Windows tests (tests/win32/serial_link_test.cpp) on a
// pseudo-terminal that nobody reads, linked into the prefix as COM7: a board
// that has stopped reading.  Only the master side is held, never read.
TEST(SerialPortUnderWineTest, WritesToABoardThatStoppedReadingEndInBoundedTime) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  const std::string link_test = WindowsDir() + "/tests/win32/serial_link_test.exe";
  if (access(link_test.c_str(), R_OK) != 0) GTEST_SKIP() << link_test << " is not built";
  PrepareWinePrefix();
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string com_link = WinePrefix() + "/dosdevices/com7";
  std::filesystem::remove(com_link);
  std::filesystem::create_symlink(ptsname(master), com_link);
  RunResult result = RunProgram({WINE_RUN, link_test}, {"ARDUINO_BLOCK_TEST_STALLED_COM=7"});
  std::filesystem::remove(com_link);
  close(master);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  for (const char* name : {"PortGetsBoundedWritesAndKeepsTheDriversReadIntervals",
                           "CommandToABoardThatStoppedReadingEndsInBoundedTime"}) {
    EXPECT_NE(result.out.find(std::string("[       OK ] StalledPortTest.") + name),
              std::string::npos)
        << result.out;
  }
}

// The serial link's Windows wait on a port whose board hangs up: a
// pseudo-terminal linked into the prefix as COM8, whose other side is closed
// as soon as the first command arrives there, as when a USB adapter is
// pulled.  The Windows test (tests/win32/serial_link_test.cpp) measures what
// its waits cost from then on.
TEST(SerialPortUnderWineTest, AWaitOnAPortWhoseBoardHungUpSleeps) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  const std::string link_test = WindowsDir() + "/tests/win32/serial_link_test.exe";
  if (access(link_test.c_str(), R_OK) != 0) GTEST_SKIP() << link_test << " is not built";
  PrepareWinePrefix();
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string com_link = WinePrefix() + "/dosdevices/com8";
  std::filesystem::remove(com_link);
  std::filesystem::create_symlink(ptsname(master), com_link);
  RunResult result;
  std::thread windows([&] {
    result = RunProgram({WINE_RUN, link_test, "--gtest_filter=HungUpPortTest.*"},
                        {"ARDUINO_BLOCK_TEST_HUNG_UP_COM=8"});
  });
  // The board's side reads until the command is there, then hangs up.
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (received.find("?02s?") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    char buffer[64];
    const ssize_t count = read(master, buffer, sizeof buffer);
    if (count > 0) {
      received.append(buffer, count);
    } else {
      usleep(5 * 1000);
    }
  }
  close(master);
  windows.join();
  std::filesystem::remove(com_link);
  EXPECT_NE(received.find("?02s?"), std::string::npos) << "the command never reached the board";
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("[       OK ] HungUpPortTest.AWaitOnAPortWhoseBoardHungUpSleeps"),
            std::string::npos)
      << result.out;
}

// What the prefix's Windows programs find in the environment variable
// `name`; cmd is Wine's own, so the prefix's kind is named for it.
std::string WindowsVariable(const std::string& name) {
  RunResult echo = RunProgram({WINE_RUN, "cmd", "/c", "echo %" + name + "%"},
                              {"WINEARCH=" + ChosenWindowsBuild().name});
  std::string value = WithoutCarriageReturns(echo.out);
  while (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// Where a path on the prefix's drive C: ("C:\\users\\...") lies here.
std::string InPrefix(const std::string& windows_path) {
  std::string rest = windows_path.substr(3);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return WinePrefix() + "/drive_c/" + rest;
}

// blockhost.exe flash takes the Arduino IDE's own avrdude where the IDE puts
// it when none is on PATH: the 1.x install folder under either Program Files
// first, then the newest version in the packages folder of IDE 2 and
// arduino-cli.  Copies of a stand-in (avrdude_stand_in.cpp), each with an
// avrdude.conf beside it as the IDE has, record which one ran and what it
// was asked; the board behind the port is boardsim, so the check that
// follows the stand-in's success meets it and flash exits 0.
TEST(WindowsFlashTest, TheIdesAvrdudeIsFoundInOrderAndGivenItsConfigAndTheImage) {
  if (const std::string why = WhyWindowsCannotRun(); !why.empty()) GTEST_SKIP() << why;
  const std::string stand_in = WindowsDir() + "/avrdude_stand_in.exe";
  if (access(stand_in.c_str(), R_OK) != 0) GTEST_SKIP() << stand_in << " is not built";
  PrepareWinePrefix();
  const std::string program_files_x86 = WindowsVariable("ProgramFiles(x86)");
  const std::string program_files = WindowsVariable("ProgramFiles");
  const std::string packages = WindowsVariable("LOCALAPPDATA") + "\\Arduino15";
  ASSERT_TRUE(program_files.starts_with("C:\\") && packages.starts_with("C:\\"))
      << program_files << " " << packages;
  // The folders the copies go in are the test's own: it leaves a prefix
  // that holds an IDE of its own alone.
  // 32-bit Windows has one Program Files, and no variable for the other.
  const bool two_program_files = program_files_x86.starts_with("C:\\");
  std::vector<std::string> tops = {InPrefix(program_files + "\\Arduino"), InPrefix(packages)};
  if (two_program_files) tops.push_back(InPrefix(program_files_x86 + "\\Arduino"));
  for (const std::string& top : tops) {
    if (std::filesystem::exists(top)) GTEST_SKIP() << "the Wine prefix has its own " << top;
  }
  struct Removed {
    const std::vector<std::string>& tops;
    ~Removed() {
      std::error_code ignored;
      for (const std::string& top : tops) std::filesystem::remove_all(top, ignored);
    }
  } removed{tops};

  TempDir dir;
  const std::string firmware = dir.File("firmware");
  std::filesystem::create_directories(firmware + "/uno");
  WriteFile(firmware + "/uno/arduino_block-115200.hex", ":00000001FF\n");
  const std::string image = WindowsPath(firmware) + "\\uno\\arduino_block-115200.hex";
  const std::string ide1 = "\\Arduino\\hardware\\tools\\avr";
  const std::string ide2 = "\\packages\\arduino\\tools\\avrdude\\";
  struct Case {
    const char* what;
    std::vector<std::string> copies;  // each a folder with bin\ and etc\ under it
    size_t chosen;
  };
  const std::string first_program_files = two_program_files ? program_files_x86 : program_files;
  std::vector<Case> cases = {
      {"the IDE 1.x beside IDE 2", {first_program_files + ide1, packages + ide2 + "7.1"}, 0},
      // 10.0 is newer than 9.1 by number, not by its first character.
      {"IDE 2 with three versions",
       {packages + ide2 + "9.1", packages + ide2 + "10.0", packages + ide2 + "6.3.0-arduino17"},
       1},
  };
  if (two_program_files) {
    cases.push_back({"the IDE 1.x under the other Program Files", {program_files + ide1}, 0});
  }
  Board board(Link::kCom12, dir, {"--analog", "A0=const:512"});
  for (const Case& c : cases) {
    for (const std::string& copy : c.copies) {
      std::filesystem::create_directories(InPrefix(copy + "\\bin"));
      std::filesystem::create_directories(InPrefix(copy + "\\etc"));
      std::filesystem::copy_file(stand_in, InPrefix(copy + "\\bin\\avrdude.exe"));
      WriteFile(InPrefix(copy + "\\etc\\avrdude.conf"), "# the stand-in reads nothing\n");
    }
    RunResult run = Blockhost(Build::kWindows, {"flash", "--comport", "12", "--board", "uno",
                                                "--baud", "115200", "--firmware-dir", firmware});
    EXPECT_EQ(run.exit_code, 0) << c.what << ": " << run.out << run.err;
    const std::string& chosen = c.copies[c.chosen];
    EXPECT_NE(
        run.out.find("arduino_block-115200.hex to the Arduino Uno on COM12 (\\\\.\\COM12) with " +
                     chosen + "\\bin\\avrdude.exe (" + chosen + "\\etc\\avrdude.conf)\n"),
        std::string::npos)
        << c.what << ": " << run.out;
    EXPECT_NE(run.out.find("board answered 512"), std::string::npos) << c.what << ": " << run.out;
    for (size_t i = 0; i < c.copies.size(); ++i) {
      Lines arguments = ReadLines(InPrefix(c.copies[i] + "\\bin\\avrdude-arguments.txt"));
      if (i != c.chosen) {
        EXPECT_EQ(arguments, Lines{}) << c.what << ": " << c.copies[i] << " ran";
        continue;
      }
      // The image's folder is joined with a slash, which avrdude on Windows
      // takes as well as a backslash.
      if (!arguments.empty()) {
        std::replace(arguments.back().begin(), arguments.back().end(), '/', '\\');
      }
      EXPECT_EQ(arguments,
                (Lines{"-C", chosen + "\\etc\\avrdude.conf", "-p", "atmega328p", "-c", "arduino",
                       "-P", "\\\\.\\COM12", "-b", "115200", "-U", "flash:w:" + image + ":i"}))
          << c.what;
    }
    for (const std::string& top : tops) std::filesystem::remove_all(top);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, WineRunTest,
                         ::testing::Values(Link::kUdp, Link::kCom5, Link::kCom12),
                         [](const ::testing::TestParamInfo<Link>& param) {
                           return param.param == Link::kUdp    ? "Udp"
                                  : param.param == Link::kCom5 ? "Com5"
                                                               : "Com12";
                         });

}  // namespace
}  // namespace e2e
