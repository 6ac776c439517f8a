#include "command_line.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <memory>

#include "arduino_block_version.h"
#include "config/setting_rules.h"
#include "errors.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

using tool_cli::Refuse;

constexpr char kKeys[] =
    "KEYs: interface=usb|ethernet|N comport=N|COMN baud=N address=TEXT udpport=N\n"
    "      pin2..pin9=unused|input|output|pwm|N a0..a5=used|unused|N\n"
    "      set takes what the dialog offers (comport 1..100, baud 9600, 19200,\n"
    "      38400 or 115200, pwm on pins 3, 5, 6 and 9 only) and udpport 1..65535";
constexpr char kRunExits[] =
    "exit status: 0 done, 1 bad arguments or files, 2 library error, 5 the port\n"
    "  cannot be opened, 9 the board did not answer in some steps, 130 stopped by\n"
    "  Ctrl-C (SIGINT), 143 stopped by SIGTERM; the steps done are kept either way";
constexpr char kCheckExits[] =
    "exit status: 0 the board answered, 1 bad arguments or files, 2 library error,\n"
    "  3 no answer, 4 an answer that is no number, 5 the port cannot be opened,\n"
    "  8 the board answers at another speed";
constexpr char kSignals[] =
    "SIGNALs (PIN is 2..9, times in ms): 3.7  square:LOW:HIGH:PERIOD\n"
    "      sine:AMPL:OFFSET:PERIOD  ramp:FROM:TO:PERIOD";

long ParseSteps(const std::string& text) {
  long value = 0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || value < 1 || value > 10'000'000) {
    Refuse("--steps", "'" + text + "' is not a step count 1..10000000");
  }
  return value;
}

double ParsePeriod(const std::string& text) {
  double value = 0.0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || !(value >= 0.0) ||
      value > 3'600'000.0) {
    Refuse("--period-ms", "'" + text + "' is not a period 0..3600000 ms");
  }
  return value;
}

int32_t ParseNumber(const std::string& name, const std::string& text, int32_t low, int32_t high) {
  int32_t value = 0;
  auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || ptr != text.data() + text.size() || value < low || value > high) {
    Refuse(name,
           "'" + text + "' is not a number " + std::to_string(low) + ".." + std::to_string(high));
  }
  return value;
}

// A COM port option: "3" or "COM3" in any case.  `check` holds it to the
// numbers the dialog offers; board-address opens any port it is given.
int32_t ParseComPortOption(const std::string& name, const std::string& text, bool judge) {
  std::optional<int32_t> port = arduino::ParseComPortText(text);
  if (!port) Refuse(name, "'" + text + "' is no COM port number (3 or COM3)");
  if (judge) {
    if (auto why = arduino::ComPortRefusal(*port)) Refuse(name, *why);
  }
  return *port;
}

// A value `check` takes for its link: one the dialog could set up.
int32_t ParseLinkNumber(const std::string& name, const std::string& text,
                        std::optional<std::string> (*refusal)(int32_t)) {
  const int32_t value = ParseNumber(name, text, INT32_MIN, INT32_MAX);
  if (auto why = refusal(value)) Refuse(name, *why);
  return value;
}

// A sub-command that fills line->command when chosen.
CLI::App* AddCommand(CLI::App* app, CommandLine* line, const std::string& name,
                     const std::string& usage, const std::string& description) {
  CLI::App* command = app->add_subcommand(name, description);
  command->group("commands");
  tool_cli::SetUsage(command, usage);
  command->parse_complete_callback([line, name] { line->command = name; });
  return command;
}

void AddLibrary(CLI::App* command, CommandLine* line) {
  command
      ->add_option("--lib", line->library,
                   "the block library; by default the one beside\n"
                   "blockhost (arduino_block.so, ArduinoBlock.dll)")
      ->type_name("PATH");
}

CLI::Option* AddProject(CLI::App* command, CommandLine* line) {
  return command->add_option("--project", line->project, "the project file")->type_name("F");
}

void AddRun(CLI::App* app, CommandLine* line) {
  CLI::App* run = AddCommand(app, line, "run",
                             "usage: blockhost run [--lib PATH] --project F [--steps N] "
                             "[--period-ms P]\n"
                             "                     [--input PIN=SIGNAL]... [--csv F.csv] "
                             "[--plot F.svg]\n",
                             "run N steps (default 100) every P ms\n(default 50)");
  AddLibrary(run, line);
  AddProject(run, line)->required();
  run->add_option_function<std::string>(
         "--steps", [line](const std::string& text) { line->steps = ParseSteps(text); },
         "the number of steps, 1..10000000 (default 100)")
      ->type_name("N");
  run->add_option_function<std::string>(
         "--period-ms",
         [line](const std::string& text) {
           line->period_ms = ParsePeriod(text);
           line->period_given = true;
         },
         "the step period in ms, 0..3600000 (default 50, or\n"
         "what the link can keep when that is longer)")
      ->type_name("P");
  run->add_option("--input", line->inputs,
                  "drive input PIN with SIGNAL; repeat for more pins.\n"
                  "An output pin goes high above 2.5 (volts); a PWM\n"
                  "pin takes 0..1023 for 0..100 % duty, clamped (9=5\n"
                  "is 5 of 1023, 0.5 %; the board's 8-bit timer gets\n"
                  "1 of 255)")
      ->type_name("PIN=SIGNAL")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  run->add_option("--csv", line->csv_path, "write the trace as CSV")->type_name("F.csv");
  run->add_option("--plot", line->plot_path, "write the trace as an SVG plot")->type_name("F.svg");
  run->add_option("--plot-note", line->plot_notes,
                  "a line under the plot's title, such as how the\n"
                  "board is wired; repeat for more lines")
      ->type_name("TEXT")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  run->footer(std::string(kSignals) + "\n\n" + kRunExits);
}

void AddCheck(CLI::App* app, CommandLine* line) {
  CLI::App* check = AddCommand(app, line, "check",
                               "usage: blockhost check [--lib PATH] (--project F | --comport N "
                               "[--baud B]\n"
                               "                       | --address A [--udpport P])\n",
                               "read A0 once, as a run would, and say\n"
                               "whether the board answers (default\n"
                               "speed 9600, default UDP port 1600)");
  AddLibrary(check, line);
  AddProject(check, line);
  check
      ->add_option_function<std::string>(
          "--comport",
          [line](const std::string& text) {
            line->com_port = ParseComPortOption("--comport", text, true);
          },
          "the board's COM port, 1..100 (3 or COM3)")
      ->type_name("N");
  CLI::Option* baud = check
                          ->add_option_function<std::string>(
                              "--baud",
                              [line](const std::string& text) {
                                line->baud_rate =
                                    ParseLinkNumber("--baud", text, arduino::BaudRateRefusal);
                              },
                              "the speed of the COM port: 9600 (default),\n"
                              "19200, 38400 or 115200")
                          ->type_name("B");
  check
      ->add_option_function<std::string>(
          "--address",
          [line](const std::string& text) {
            if (text.empty()) Refuse("--address", "give the board's address");
            line->address = text;
          },
          "the board's address")
      ->type_name("A");
  CLI::Option* udp_port = check
                              ->add_option_function<std::string>(
                                  "--udpport",
                                  [line](const std::string& text) {
                                    line->udp_port =
                                        ParseLinkNumber("--udpport", text, arduino::UdpPortRefusal);
                                  },
                                  "the board's UDP port (default 1600)")
                              ->type_name("P");
  check->footer(kCheckExits);
  // `check` tests one link: the one a project holds, a COM port or an address.
  check->callback([line, baud, udp_port] {
    const int choices =
        !line->project.empty() + line->com_port.has_value() + !line->address.empty();
    if (choices != 1) Refuse("give exactly one of --project, --comport or --address");
    if (baud->count() > 0 && !line->com_port) Refuse("--baud goes with --comport");
    if (udp_port->count() > 0 && line->address.empty()) Refuse("--udpport goes with --address");
  });
}

// A value sent to the board as part of one line: the board judges its
// form, but a space or a control character would change the line itself.
std::string BoardValue(const std::string& option, const std::string& text) {
  if (text.empty()) Refuse(option, "give a value");
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F) Refuse(option, "'" + text + "' has a space or a control character");
  }
  return text;
}

void AddBoardAddress(CLI::App* app, CommandLine* line) {
  CLI::App* command =
      AddCommand(app, line, "board-address",
                 "usage: blockhost board-address --comport N [--baud B] [--wait-ms MS] "
                 "[--mac MAC]\n"
                 "                               [ADDRESS]\n",
                 "show or set (and save) the address of a\n"
                 "board with the Ethernet image, over USB");
  command
      ->add_option_function<std::string>(
          "--comport",
          [line](const std::string& text) {
            line->com_port = ParseComPortOption("--comport", text, false);
          },
          "the board's USB serial port (3 or COM3)")
      ->type_name("N")
      ->required();
  command
      ->add_option_function<std::string>(
          "--baud",
          [line](const std::string& text) {
            line->baud_rate = ParseNumber("--baud", text, 1, INT32_MAX);
          },
          "the speed of the port (default 9600, the\nsetup console's)")
      ->type_name("B");
  command
      ->add_option_function<std::string>(
          "--wait-ms",
          [line](const std::string& text) {
            line->restart_wait_ms = ParseNumber("--wait-ms", text, 0, 60000);
          },
          "how long to wait for the board to restart\nafter the port opens (default 4000)")
      ->type_name("MS");
  command
      ->add_option_function<std::string>(
          "--mac", [line](const std::string& text) { line->board_mac = BoardValue("--mac", text); },
          "also set the board's MAC address")
      ->type_name("MAC");
  command
      ->add_option_function<std::string>(
          "address",
          [line](const std::string& text) { line->board_address = BoardValue("ADDRESS", text); },
          "the new address, e.g. 10.0.0.50; without it\nthe address is shown")
      ->type_name("ADDRESS");
  command->footer(
      "exit status: 0 done, 1 bad arguments, 3 no answer, 5 the port cannot be opened,\n"
      "  6 the board refused the value, 7 the board does not run the Ethernet image");
}

void AddCommands(CLI::App* app, CommandLine* line) {
  CLI::App* info = AddCommand(app, line, "info", "usage: blockhost info [--lib PATH]\n",
                              "name, inputs, outputs and records");
  AddLibrary(info, line);

  CLI::App* show = AddCommand(app, line, "show", "usage: blockhost show [--lib PATH] --project F\n",
                              "the block settings stored in F");
  AddLibrary(show, line);
  AddProject(show, line)->required();

  CLI::App* set =
      AddCommand(app, line, "set",
                 "usage: blockhost set [--lib PATH] --project F [--force] KEY=VALUE...\n"
                 "       blockhost set [--lib PATH] --project F --fix-line-ends [KEY=VALUE...]\n",
                 "change settings; creates F if missing");
  AddLibrary(set, line);
  AddProject(set, line)->required();
  set->add_flag("--force", line->force,
                "write any integer, also one the dialog does\n"
                "not offer (the file holds any)")
      ->disable_flag_override();
  set->add_flag("--fix-line-ends", line->fix_line_ends,
                "give F back the line ends that a program (an\n"
                "editor, dos2unix, unix2dos, a transfer) changed")
      ->disable_flag_override();
  set->add_option("assignments", line->assignments, "the settings to change")
      ->type_name("KEY=VALUE...");
  set->callback([line] {
    if (line->assignments.empty() && !line->fix_line_ends) Refuse("give at least one KEY=VALUE");
  });
  set->footer(kKeys);

  CLI::App* configure =
      AddCommand(app, line, "configure", "usage: blockhost configure [--lib PATH] --project F\n",
                 "edit the settings in the block's own\n"
                 "dialog; OK saves F (creates it if missing)");
  AddLibrary(configure, line);
  AddProject(configure, line)->required();
  configure->footer(
      "exit status: 0 saved, 1 bad arguments or files, 2 library error, 10 cancelled\n"
      "  or closed, 11 no display; only 0 writes F");

  AddRun(app, line);
  AddCheck(app, line);

  CLI::App* ports = AddCommand(app, line, "ports", "usage: blockhost ports [--json]\n",
                               "the serial ports by COM number, with\ntheir USB details");
  ports->add_flag("--json", line->json, "print the list as a JSON array")->disable_flag_override();

  AddBoardAddress(app, line);

  // "blockhost help" has always been the same as "blockhost --help".
  AddCommand(app, line, "help", "usage: blockhost help\n", "")->group("");
}

std::unique_ptr<CLI::App> MakeApp(CommandLine* line) {
  auto app = std::make_unique<CLI::App>(
      "Loads a block library and drives it through its exported functions, the way a\n"
      "simulation host does.",
      "blockhost");
  tool_cli::SetUsage(app.get(),
                     "usage: blockhost <command> [options]\n       blockhost --version\n");
  tool_cli::AddVersionFlag(app.get(), ARDUINO_BLOCK_VERSION);
  AddCommands(app.get(), line);
  app->footer(std::string(kKeys) + "\n" + kSignals +
              "\n\n"
              "exit status: 0 success, 1 bad arguments or files, 2 library error;\n"
              "  run: 5 the port cannot be opened, 9 the board did not answer in some\n"
              "  steps, 130 stopped by Ctrl-C (SIGINT), 143 stopped by SIGTERM;\n"
              "  configure: 10 cancelled, 11 no display (nothing saved either way);\n"
              "  check: 3 no answer from the board, 4 an answer that is no number,\n"
              "  5 the port cannot be opened, 8 the board answers at another speed;\n"
              "  board-address: 3 no answer, 5 the port cannot be opened, 6 refused,\n"
              "  7 not the Ethernet image\n"
              "Run 'blockhost <command> --help' for the options of one command.");
  return app;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* line) {
  std::unique_ptr<CLI::App> app = MakeApp(line);
  if (std::optional<int> status = tool_cli::Parse(app.get(), argc, argv, kExitUsage)) {
    return status;
  }
  if (line->command == "help") {
    fputs(app->help().c_str(), stdout);
    return kExitOk;
  }
  if (line->command.empty()) {
    tool_cli::ReportUsageError(*app, "no command given");
    return kExitUsage;
  }
  return std::nullopt;
}

void ReportUsageError(const std::string& command, const std::string& message) {
  CommandLine unused;
  std::unique_ptr<CLI::App> app = MakeApp(&unused);
  tool_cli::ReportUsageError(*app->get_subcommand(command), message);
}

}  // namespace blockhost
