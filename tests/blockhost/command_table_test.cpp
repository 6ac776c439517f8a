// blockhost's command layer without a library: the table every command is
// registered in, how the command line reads the numbers a user types, the
// repeated options the tools share, and the words the commands use for a
// board's link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "block_settings.h"
#include "command_line.h"
#include "commands.h"
#include "link_text.h"
#include "number_text.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

// ParseCommandLine on `args` after the program's name; what it printed on
// stdout and stderr, and its status.
struct Parsed {
  std::optional<int> status;
  CommandLine line;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "blockhost");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  Parsed parsed;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  parsed.status = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &parsed.line);
  parsed.out = testing::internal::GetCapturedStdout();
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

struct OptionCase {
  std::vector<std::string> args;
  std::string refusal;  // empty: taken
};

// Each command's shortest line, and each option's numbers read whole and
// held to their range; a refusal names the option and the value, or lists
// what it takes.
const OptionCase kOptionCases[] = {
    {{"info"}, ""},
    {{"show", "--project", "p"}, ""},
    {{"set", "--project", "p", "baud=9600"}, ""},
    {{"configure", "--project", "p"}, ""},
    {{"run", "--project", "p"}, ""},
    {{"check", "--comport", "3"}, ""},
    {{"ports"}, ""},
    {{"board-address", "--comport", "3"}, ""},
    {{"flash", "--comport", "3"}, ""},
    {{"latency", "--comport", "3"}, ""},
    {{"run", "--project", "p", "--steps", "10000000"}, ""},
    {{"run", "--project", "p", "--steps", "0"}, "--steps: '0' is not a step count"},
    {{"run", "--project", "p", "--steps", "12x"}, "'12x' is not a step count"},
    {{"run", "--project", "p", "--steps", "+5"}, "'+5' is not a step count"},
    {{"run", "--project", "p", "--steps", "99999999999999999999"}, "is not a step count"},
    {{"run", "--project", "p", "--period-ms", "0.5"}, ""},
    {{"run", "--project", "p", "--period-ms", "nan"}, "'nan' is not a period"},
    {{"run", "--project", "p", "--period-ms", "3600000.5"}, "is not a period"},
    {{"check", "--address", "a", "--udpport", "65535"}, ""},
    {{"check", "--address", "a", "--udpport", "0x10"}, "'0x10' is not a number"},
    {{"check", "--address", "a", "--udpport", " 1600"}, "is not a number"},
    {{"board-address", "--comport", "3", "--wait-ms", "60000"}, ""},
    {{"board-address", "--comport", "3", "--wait-ms", "60001"},
     "--wait-ms: '60001' is not a number 0..60000"},
    {{"board-address", "--comport", "3", "--baud", "2147483648"},
     "--baud: '2147483648' is not a number 1..2147483647"},
    {{"flash", "--comport", "3", "--ethernet", "--address", "10.0.0.50"}, ""},
    {{"flash", "--comport", "3", "--baud", "115200", "--board", "mega"}, ""},
    {{"flash", "--comport", "3", "--baud", "57600"},
     "--baud: the images run at 9600, 19200, 38400 or 115200"},
    {{"flash", "--comport", "3", "--ethernet", "--baud", "9600"},
     "--baud goes with a USB image, not with --ethernet"},
    {{"flash", "--comport", "3", "--project", "p", "--ethernet"}, "--project picks the image"},
    {{"flash", "--comport", "3", "--address", "10.0.0.50"}, "--address goes with --ethernet"},
    // Read as text and refused: the name is never looked up.
    {{"flash", "--comport", "3", "--ethernet", "--address", "board.local"},
     "--address: 'board.local' is no A.B.C.D"},
    {{"flash", "--comport", "3", "--board", "nano-old"}, ""},
    {{"flash", "--comport", "3", "--board", "nano2"},
     "--board: 'nano2': uno, mega2560, nano or nano-old"},
};

class OptionValueTest : public testing::TestWithParam<OptionCase> {};

// A line that is taken names its command, which the table then runs.
TEST_P(OptionValueTest, TakesOrRefusesTheLineAsTheRowSays) {
  const OptionCase& c = GetParam();
  const Parsed parsed = Parse(c.args);
  if (c.refusal.empty()) {
    EXPECT_EQ(parsed.status, std::nullopt) << parsed.err;
    EXPECT_EQ(parsed.line.command, c.args[0]);
  } else {
    EXPECT_EQ(parsed.status, kExitUsage);
    EXPECT_NE(parsed.err.find(c.refusal), std::string::npos) << parsed.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, OptionValueTest, testing::ValuesIn(kOptionCases));

TEST(CommandTableTest, EveryCommandIsFoundByItsOwnNameAndNoOther) {
  std::set<std::string> names;
  for (const Command* command : kCommands) {
    EXPECT_TRUE(names.insert(command->name).second) << "twice: " << command->name;
    EXPECT_EQ(FindCommand(command->name), command) << command->name;
    ASSERT_NE(command->add_options, nullptr) << command->name;
    ASSERT_NE(command->run, nullptr) << command->name;
    EXPECT_TRUE(std::any_of(
        std::begin(kOptionCases), std::end(kOptionCases),
        [&](const OptionCase& c) { return c.args[0] == command->name && c.refusal.empty(); }))
        << "no line of " << command->name << " is taken in kOptionCases";
  }
  for (const char* name : {"", "help", "Run", "run ", "fl"}) {
    EXPECT_EQ(FindCommand(name), nullptr) << "'" << name << "'";
  }
}

// The overview lists every command of the table, in the table's order, by
// the usage it shows in its own help.
TEST(CommandTableTest, TheOverviewListsEveryCommandInTheTablesOrder) {
  const Parsed overview = Parse({"--help"});
  ASSERT_EQ(overview.status, 0);
  size_t at = 0;
  for (const Command* command : kCommands) {
    const std::string usage = command->usage;
    const std::string prefix = "usage: blockhost " + std::string(command->name);
    ASSERT_EQ(usage.rfind(prefix, 0), 0u) << usage;
    // The overview drops "usage: blockhost " from the first line.
    const std::string listed = "\n  " + usage.substr(17, usage.find('\n') - 17);
    const size_t found = overview.out.find(listed, at);
    ASSERT_NE(found, std::string::npos) << command->name << " missing or out of order";
    at = found + listed.size();

    const Parsed own = Parse({command->name, "--help"});
    EXPECT_EQ(own.status, 0) << command->name;
    EXPECT_EQ(own.out.rfind(usage, 0), 0u) << own.out;
  }
}

// "blockhost help" is the overview too, and an error a command finds after
// parsing repeats that command's own usage, from its entry in the table.
TEST(CommandTableTest, HelpAndLateUsageErrorsComeFromTheTable) {
  EXPECT_EQ(Parse({"help"}).out, Parse({"--help"}).out);
  for (const Command* command : kCommands) {
    const std::string name = command->name;
    testing::internal::CaptureStderr();
    ReportUsageError(name, "a late error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "blockhost: " + name + ": a late error\n" +
                                                          command->usage + "Try 'blockhost " +
                                                          name + " --help' for more.\n");
  }
}

// Each command's options land in the fields its runner reads.
TEST(CommandTableTest, OptionsLandInTheFieldsTheirCommandReads) {
  const Parsed run =
      Parse({"run",         "--lib",  "l.so",    "--project",   "p",       "--steps",     "12",
             "--period-ms", "7.5",    "--input", "3=1",         "--input", "pin4=2",      "--csv",
             "t.csv",       "--plot", "t.svg",   "--plot-note", "a",       "--plot-note", "b"});
  ASSERT_EQ(run.status, std::nullopt) << run.err;
  EXPECT_EQ(run.line.library, "l.so");
  EXPECT_EQ(run.line.project, "p");
  EXPECT_EQ(run.line.steps, 12);
  EXPECT_EQ(run.line.period_ms, 7.5);
  EXPECT_TRUE(run.line.period_given);
  EXPECT_EQ(run.line.inputs, (std::vector<std::string>{"3=1", "pin4=2"}));
  EXPECT_EQ(run.line.csv_path, "t.csv");
  EXPECT_EQ(run.line.plot_path, "t.svg");
  EXPECT_EQ(run.line.plot_notes, (std::vector<std::string>{"a", "b"}));

  const Parsed check = Parse({"check", "--comport", "com4", "--baud", "19200"});
  ASSERT_EQ(check.status, std::nullopt) << check.err;
  EXPECT_EQ(check.line.com_port, 4);
  EXPECT_EQ(check.line.baud_rate, 19200);
  const Parsed udp = Parse({"check", "--address", "127.0.0.1", "--udpport", "16001"});
  ASSERT_EQ(udp.status, std::nullopt) << udp.err;
  EXPECT_EQ(udp.line.address, "127.0.0.1");
  EXPECT_EQ(udp.line.udp_port, 16001);

  const Parsed board = Parse({"board-address", "--comport", "COM200", "--baud", "57600",
                              "--wait-ms", "10", "--mac", "de:ad:be:ef:00:01", "10.0.0.50"});
  ASSERT_EQ(board.status, std::nullopt) << board.err;
  EXPECT_EQ(board.line.com_port, 200);  // any port, not only the dialog's
  EXPECT_EQ(board.line.baud_rate, 57600);
  EXPECT_EQ(board.line.restart_wait_ms, 10);
  EXPECT_EQ(board.line.board_mac, "de:ad:be:ef:00:01");
  EXPECT_EQ(board.line.board_address, "10.0.0.50");

  const Parsed set = Parse({"set", "--project", "p", "--force", "--fix-line-ends", "a0=used"});
  ASSERT_EQ(set.status, std::nullopt) << set.err;
  EXPECT_TRUE(set.line.force);
  EXPECT_TRUE(set.line.fix_line_ends);
  EXPECT_EQ(set.line.assignments, std::vector<std::string>{"a0=used"});
  EXPECT_TRUE(Parse({"ports", "--json"}).line.json);
}

struct RepeatedCase {
  std::vector<std::string> args;
  std::vector<std::string> taken;
  std::string refusal;  // empty: taken
};

// An option given any number of times hands each value over in the order
// given, one a time; a refused value is the option's usage error.
TEST(ToolCommandLineTest, ARepeatedOptionTakesEachValueInOrder) {
  for (const RepeatedCase& c : {
           RepeatedCase{{}, {}, ""},
           RepeatedCase{{"--pin", "a"}, {"a"}, ""},
           RepeatedCase{{"--pin", "b", "--pin", "a", "--pin", "b"}, {"b", "a", "b"}, ""},
           RepeatedCase{{"--pin=c", "--pin", "d"}, {"c", "d"}, ""},
           RepeatedCase{{"--pin", "a", "b"}, {}, "unexpected argument 'b'"},
           RepeatedCase{{"--pin", "a", "--pin", "bad"}, {}, "--pin: 'bad' will not do"},
       }) {
    CLI::App app("", "tool");
    tool_cli::SetUsage(&app, "usage: tool [--pin P]...\n");
    std::vector<std::string> taken;
    tool_cli::AddRepeatedOption(&app, "--pin", "P", "a pin", [&](const std::string& value) {
      if (value == "bad") tool_cli::Refuse("--pin", "'" + value + "' will not do");
      taken.push_back(value);
    });
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    testing::internal::CaptureStderr();
    const std::optional<int> status =
        tool_cli::Parse(&app, static_cast<int>(argv.size()), argv.data(), 7);
    const std::string err = testing::internal::GetCapturedStderr();
    if (c.refusal.empty()) {
      EXPECT_EQ(status, std::nullopt) << err;
      EXPECT_EQ(taken, c.taken);
    } else {
      EXPECT_EQ(status, 7);
      EXPECT_NE(err.find(c.refusal), std::string::npos) << err;
    }
  }
}

template <typename T>
struct NumberCase {
  std::string_view text;
  std::optional<T> value;  // nothing: no number
  int base = 10;
};

template <typename T>
void ExpectReadings(std::initializer_list<NumberCase<T>> cases) {
  for (const NumberCase<T>& c : cases) {
    EXPECT_EQ(tool_cli::ParseNumber<T>(c.text, c.base), c.value)
        << "'" << c.text << "' in base " << c.base;
  }
}

// What the one number parser makes of a text: a whole number of the type in
// the base, or nothing.
TEST(NumberTextTest, TheWholeTextIsTheNumberOrThereIsNone) {
  constexpr std::nullopt_t kNone = std::nullopt;
  ExpectReadings<int32_t>({{"-2147483648", INT32_MIN},
                           {"2147483647", INT32_MAX},
                           {"007", 7},
                           {"", kNone},
                           {"-", kNone},
                           {"2147483648", kNone},
                           {"1 ", kNone},
                           {" 1", kNone},
                           {"+1", kNone},
                           {"1.0", kNone},
                           {"0x1", kNone},
                           {"1e3", kNone}});
  ExpectReadings<uint64_t>(
      {{"-1", kNone}, {"ff", 255u, 16}, {"FF", 255u, 16}, {"17", 15u, 8}, {"18", kNone, 8}});
  ExpectReadings<double>({{"2.5e3", 2500.0},
                          {"-0.25", -0.25},
                          {"", kNone},
                          {".", kNone},
                          {"1,5", kNone},
                          {"2.5 ", kNone},
                          {"0x1p3", kNone},
                          {"1e", kNone}});
}

TEST(LinkTextTest, EachLinkIsNamedAsTheCommandsTellIt) {
  BlockSettings udp;
  udp.interface_kind = 0;
  udp.address = "10.0.0.50";
  udp.udp_port = 16001;
  EXPECT_EQ(LinkText(udp), "UDP 10.0.0.50:16001");
  EXPECT_EQ(CheckedLinkText(udp), "10.0.0.50, UDP port 16001");
  udp.address.clear();
  EXPECT_EQ(CheckedLinkText(udp), "this computer (the address is empty), UDP port 16001");

  BlockSettings serial;
  serial.interface_kind = 1;
  serial.com_port = 97;
  serial.baud_rate = 115200;
  EXPECT_EQ(LinkText(serial), "serial COM97 at 115200 baud");
  // The device behind the number is what a user recognises on Linux.
  ASSERT_EQ(setenv("ARDUINO_BLOCK_COM97", "/dev/null", 1), 0);
  EXPECT_EQ(CheckedLinkText(serial), "COM97 (/dev/null) at 115200 baud");
  unsetenv("ARDUINO_BLOCK_COM97");

  BlockSettings other;
  other.interface_kind = 7;
  EXPECT_EQ(LinkText(other), "interface 7");
}

TEST(CommandWithProjectTest, WhatAShellWouldSplitIsQuoted) {
  CommandLine line;
  line.project = "p.prj";
  EXPECT_EQ(CommandWithProject("check", line), "blockhost check --project p.prj");
  line.project = "my project.prj";
  line.library = "/opt/it's/arduino_block.so";
  EXPECT_EQ(CommandWithProject("set", line),
            "blockhost set --lib \"/opt/it's/arduino_block.so\" --project \"my project.prj\"");
}

}  // namespace
}  // namespace blockhost
