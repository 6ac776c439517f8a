// blockhost as a program: exit codes and messages, the project file, and a
// run against boardsim that leaves a CSV table and an SVG plot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "e2e_harness.h"

namespace e2e {
namespace {

// A file's bytes and modification time, to tell a file left alone from one
// rewritten with the same bytes.  The time is set far back first, so that
// a rewrite within the same second still shows.
struct FileState {
  bool exists = false;
  std::string bytes;
  timespec modified{};
  bool operator==(const FileState& o) const {
    return exists == o.exists && bytes == o.bytes && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

FileState StateOf(const std::string& path) {
  FileState state;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return state;
  state.exists = true;
  state.bytes = ReadFile(path);
  state.modified = info.st_mtim;
  return state;
}

FileState AgedStateOf(const std::string& path) {
  const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), long_ago, 0), 0) << path;
  return StateOf(path);
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
  // --force: pin 8 has no PWM, and the file holds any code all the same.
  RunResult set = Blockhost({"set", "--project", project, "--force", "interface=usb", "comport=7",
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

TEST(BlockhostTest, ConfigureWithoutADisplayExitsElevenAndTouchesNoFile) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "comport=9", "pin3=pwm"}).exit_code, 0);
  const FileState before = AgedStateOf(project);
  auto configure = [](const std::string& path) {
    return RunProgram(
        {BLOCKHOST_PATH, "configure", "--lib", ARDUINO_BLOCK_MODULE, "--project", path},
        {"DISPLAY=", "WAYLAND_DISPLAY="});
  };
  RunResult result = configure(project);
  EXPECT_EQ(result.exit_code, 11);
  EXPECT_NE(result.err.find("Arduino settings dialog: no display available; settings unchanged"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(Contains(result.out, "comport")) << "printed as if saved:\n" << result.out;
  EXPECT_EQ(StateOf(project), before);

  const std::string missing = dir.File("new.project");
  EXPECT_EQ(configure(missing).exit_code, 11);
  EXPECT_FALSE(StateOf(missing).exists) << "created without a dialog";
  EXPECT_EQ(Blockhost({"configure"}).exit_code, 1);
}

// What the settings dialog cannot store, `set` refuses with the range or
// the list, writing nothing: not the file, not a new one, not the other
// assignments of the same command.  --force writes any integer.
TEST(BlockhostTest, SetRefusesWhatTheDialogCannotStoreUnlessForced) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "pin2=output"}).exit_code, 0);
  const FileState before = AgedStateOf(project);
  const struct {
    const char* assignment;
    const char* named;
    const char* shown;  // by `show` once forced
  } kCases[] = {
      {"udpport=70000", "1..65535", "udpport   70000\n"},
      {"udpport=-1", "1..65535", "udpport   -1\n"},
      {"udpport=0", "1..65535", "udpport   0\n"},
      {"comport=-3", "1..100", "comport   -3\n"},
      {"comport=0", "1..100", "comport   0\n"},
      {"comport=COM101", "1..100", "comport   101\n"},
      {"baud=0", "9600, 19200, 38400, 115200", "baud      0\n"},
      {"baud=12345", "9600, 19200, 38400, 115200", "baud      12345\n"},
      {"interface=5", "0 (ethernet)", "interface unknown code (5)\n"},
      {"pin2=7", "0 unused, 1 input, 2 output", "pin2      unknown code (7)\n"},
      {"pin2=pwm", "pins 3, 5, 6 and 9", "pin2      pwm (3)\n"},
      {"pin8=3", "pins 3, 5, 6 and 9", "pin8      pwm (3)\n"},
      {"a0=2", "1 (used)", "a0        unknown code (2)\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.assignment);
    RunResult refused = Blockhost({"set", "--project", project, "pin3=pwm", c.assignment});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(Contains(refused.err, c.named)) << refused.err;
    EXPECT_EQ(StateOf(project), before) << "a refused set touched the project";

    const std::string fresh = dir.File("fresh.project");
    EXPECT_EQ(Blockhost({"set", "--project", fresh, c.assignment}).exit_code, 1);
    EXPECT_FALSE(StateOf(fresh).exists);

    const std::string forced = dir.File("forced.project");
    RunResult force = Blockhost({"set", "--project", forced, "--force", c.assignment});
    EXPECT_EQ(force.exit_code, 0) << force.err;
    EXPECT_TRUE(Contains(Blockhost({"show", "--project", forced}).out, c.shown));
  }
  // What the dialog offers is taken, PWM on the pins that have it included.
  RunResult taken = Blockhost({"set", "--project", project, "udpport=65535", "comport=100",
                               "baud=38400", "pin3=pwm", "pin9=pwm", "interface=usb"});
  EXPECT_EQ(taken.exit_code, 0) << taken.err;
  EXPECT_TRUE(Contains(taken.out, "pin9      pwm (3)\n")) << taken.out;
}

TEST(BlockhostTest, ComNamesAreTakenWhereverAComNumberIs) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  for (const char* name : {"COM3", "com42", "Com7"}) {
    SCOPED_TRACE(name);
    RunResult set = Blockhost({"set", "--project", project, std::string("comport=") + name});
    ASSERT_EQ(set.exit_code, 0) << set.err;
    const std::string number = std::string(name).substr(3);
    EXPECT_TRUE(Contains(set.out, "comport   " + number + "\n")) << set.out;
  }
  for (const char* bad : {"comport=COM", "comport=COM-3", "comport=LPT1"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Blockhost({"set", "--project", project, bad}).exit_code, 1);
  }
  // check takes the name too: the port is looked up, and is missing.
  RunResult check =
      RunProgram({BLOCKHOST_PATH, "check", "--lib", ARDUINO_BLOCK_MODULE, "--comport", "COM12"},
                 {"ARDUINO_BLOCK_COM12=" + dir.File("missing")});
  EXPECT_EQ(check.exit_code, 5) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "COM12 cannot be opened")) << check.out;
}

// A project that holds a value `set` refuses is refused by `check` as well,
// before any port is opened or datagram sent; so is the same value given
// on check's command line.
TEST(BlockhostTest, CheckRefusesTheValuesSetRefuses) {
  TempDir dir;
  const struct {
    std::vector<std::string> link;
    std::string bad;
    std::vector<std::string> option;  // the same value on check's command line
  } kCases[] = {
      {{"interface=usb", "comport=5"}, "baud=12345", {"--comport", "5", "--baud", "12345"}},
      {{"interface=usb"}, "comport=0", {"--comport", "0"}},
      {{"interface=usb"}, "comport=250", {"--comport", "COM250"}},
      {{"interface=ethernet", "address=127.0.0.1"},
       "udpport=70000",
       {"--address", "127.0.0.1", "--udpport", "70000"}},
      {{"interface=ethernet", "address=127.0.0.1"},
       "udpport=0",
       {"--address", "127.0.0.1", "--udpport", "0"}},
      {{"pin2=input"}, "interface=5", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bad);
    const std::string project = dir.File(c.bad + ".project");
    std::vector<std::string> set = {"set", "--project", project};
    set.insert(set.end(), c.link.begin(), c.link.end());
    ASSERT_EQ(Blockhost(set).exit_code, 0);
    RunResult refused_by_set = Blockhost({"set", "--project", project, c.bad});
    EXPECT_EQ(refused_by_set.exit_code, 1);
    ASSERT_EQ(Blockhost({"set", "--project", project, "--force", c.bad}).exit_code, 0);
    const FileState before = AgedStateOf(project);

    RunResult refused = Blockhost({"check", "--project", project});
    EXPECT_EQ(refused.exit_code, 1) << refused.out << refused.err;
    EXPECT_FALSE(Contains(refused.out, "link:")) << "checked a link it should refuse";
    EXPECT_EQ(StateOf(project), before);
    // Both name the value the same way.
    const size_t why = refused_by_set.err.find(": ", refused_by_set.err.find(c.bad.substr(0, 4)));
    ASSERT_NE(why, std::string::npos) << refused_by_set.err;
    const std::string reason =
        refused_by_set.err.substr(why + 2, refused_by_set.err.find(';') - why - 2);
    ASSERT_GT(reason.size(), 10u) << refused_by_set.err;
    EXPECT_TRUE(Contains(refused.err, reason)) << reason << "\n" << refused.err;

    if (c.option.empty()) continue;
    std::vector<std::string> check = {"check"};
    check.insert(check.end(), c.option.begin(), c.option.end());
    RunResult option = Blockhost(check);
    EXPECT_EQ(option.exit_code, 1) << option.out << option.err;
    EXPECT_TRUE(Contains(option.err, reason)) << reason << "\n" << option.err;
  }
}

// A project whose CR LF became LF is refused by name and never rewritten.
TEST(BlockhostTest, AProjectWhoseLinesLostTheirCrsIsNamedAndLeftAlone) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "udpport=1700"}).exit_code, 0);
  std::string text = ReadFile(project);
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  WriteFile(project, text);
  const FileState before = AgedStateOf(project);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"show", "--project", project},
                                             {"set", "--project", project, "pin2=unused"},
                                             {"set", "--project", project, "--force", "a0=7"},
                                             {"check", "--project", project}}) {
    SCOPED_TRACE(args[0]);
    RunResult result = Blockhost(args);
    EXPECT_NE(result.exit_code, 0);
    EXPECT_TRUE(Contains(result.err, "LF instead of CR LF")) << result.err;
    EXPECT_TRUE(Contains(result.err, "`blockhost set --project " + project + " --fix-line-ends`"))
        << result.err;
    // One line of message, no line break of the file's inside it.
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_EQ(StateOf(project), before);
  }
}

// What dos2unix, unix2dos and their kin make of a project, mended back to
// the bytes blockhost wrote; the messages before name the mend.
TEST(BlockhostTest, SetFixLineEndsMendsAProjectWhoseLineEndsWereChanged) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "udpport=1700"}).exit_code, 0);
  const std::string original = ReadFile(project);
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text;
    for (size_t at = 0; at < original.size();) {
      if (original.compare(at, from.size(), from) == 0) {
        text += to;
        at += from.size();
      } else {
        text += original[at++];
      }
    }
    return text;
  };
  const struct {
    const char* name;
    std::string text;
  } kCases[] = {
      {"dos2unix", replaced("\r\n", "\n")},
      {"unix2dos", replaced("\n", "\r\n")},  // CR CR LF for the settings lines
      {"CR alone", replaced("\r\n", "\r")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(project, c.text);
    RunResult show = Blockhost({"show", "--project", project});
    EXPECT_EQ(show.exit_code, 1) << show.err;
    EXPECT_TRUE(
        Contains(show.err, "To mend it: `blockhost set --project " + project + " --fix-line-ends`"))
        << show.err;
    RunResult fix = Blockhost({"set", "--project", project, "--fix-line-ends"});
    EXPECT_EQ(fix.exit_code, 0) << fix.err;
    EXPECT_EQ(ReadFile(project), original);
  }
  EXPECT_EQ(Blockhost({"set", "--project", dir.File("none"), "--fix-line-ends"}).exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
}

// An address the project file cannot hold is the typed value's fault, and
// said so before anything is read back from the file.
TEST(BlockhostTest, AnAddressTooLongForTheFileIsRefusedAsTheValue) {
  TempDir dir;
  const std::string project = dir.File("p.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "udpport=1700"}).exit_code, 0);
  const std::string before = ReadFile(project);
  for (const char* force : {"", "--force"}) {
    std::vector<std::string> args = {"set", "--project", project};
    if (*force) args.push_back(force);
    args.push_back("address=" + std::string(1200, 'a'));
    RunResult set = Blockhost(args);
    EXPECT_EQ(set.exit_code, 1) << set.err;
    EXPECT_TRUE(Contains(set.err,
                         "address: 1200 characters, more than the 998 a line of the "
                         "project file holds"))
        << set.err;
    EXPECT_FALSE(Contains(set.err, "Line 4")) << set.err;
    EXPECT_EQ(ReadFile(project), before);
  }
  EXPECT_EQ(Blockhost({"set", "--project", project, "address=" + std::string(998, 'a')}).exit_code,
            0);
}

// Every exit code a command can give is in its help and in the overview,
// where a script's author looks for it.
TEST(BlockhostTest, TheHelpListsEveryExitCode) {
  const struct {
    std::vector<std::string> args;
    std::vector<const char*> codes;
  } kCases[] = {
      {{"--help"},
       {"1 bad arguments", "2 library error", "3 no answer", "4 an answer", "5 the port",
        "6 refused", "7 not the Ethernet", "8 the board answers at another speed",
        "9 the board did not answer", "10 nothing changed", "11 no display", "12 no image",
        "13 no avrdude", "14 another chip", "15 avrdude failed", "130 stopped", "143 stopped"}},
      {{"run", "--help"},
       {"0 done", "1 bad arguments", "2 library error", "5 the port", "9 the board did not answer",
        "130 stopped by Ctrl-C", "143 stopped by SIGTERM"}},
      {{"check", "--help"},
       {"0 the board answered", "3 no answer", "4 an answer", "5 the port",
        "8 the board answers at another speed"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    std::vector<std::string> args = {BLOCKHOST_PATH};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult help = RunProgram(args);
    EXPECT_EQ(help.exit_code, 0);
    // The help wraps its lines; the codes are looked for in running text.
    std::string text = help.out;
    for (size_t at; (at = text.find("\n  ")) != std::string::npos;) text.replace(at, 3, " ");
    for (const char* code : c.codes) EXPECT_TRUE(Contains(text, code)) << code << "\n" << text;
  }
  // Every form of a command is listed by the command's name, as `set`'s two.
  const std::string overview = RunProgram({BLOCKHOST_PATH, "--help"}).out;
  EXPECT_FALSE(Contains(overview, "\n  blockhost ")) << overview;
  EXPECT_TRUE(Contains(overview, "\n  set [--lib PATH] --project F --fix-line-ends")) << overview;
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
  // The exit code of every command for a port it cannot open; the variable
  // is set, so it is not offered as the way to name the device.
  EXPECT_EQ(run.exit_code, 5);
  EXPECT_EQ(run.err,
            "blockhost: COM77 cannot be opened: no such port, or another program holds it; "
            "`blockhost ports` lists the ports by COM number\n");
  RunResult unnamed = RunProgram(
      {BLOCKHOST_PATH, "run", "--lib", ARDUINO_BLOCK_MODULE, "--project", project, "--steps", "2"});
  EXPECT_EQ(unnamed.exit_code, 5);
  EXPECT_NE(unnamed.err.find("(ARDUINO_BLOCK_COM77 may name its device)"), std::string::npos)
      << unnamed.err;
  // The commands that talk to the board's console say the same of a COM
  // number with no device at all, before they touch anything.  flash looks
  // for its image first, so it is given a folder with a stand-in: the built
  // images may not be there.
  const std::string firmware = dir.File("firmware");
  std::filesystem::create_directories(firmware + "/uno");
  WriteFile(firmware + "/uno/arduino_block-9600.hex", ":00000001FF\n");
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{BLOCKHOST_PATH, "board-address", "--comport", "250"},
        std::vector<std::string>{BLOCKHOST_PATH, "flash", "--comport", "250", "--board", "uno",
                                 "--baud", "9600", "--firmware-dir", firmware}}) {
    const RunResult none = RunProgram(command);
    EXPECT_EQ(none.exit_code, 5) << command[1];
    EXPECT_EQ(none.err,
              "blockhost: there is no COM250 on this computer; `blockhost ports` lists the ports\n")
        << command[1];
  }
}

}  // namespace
}  // namespace e2e
