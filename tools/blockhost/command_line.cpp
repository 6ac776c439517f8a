#include "command_line.h"

#include <cstdio>
#include <memory>

#include "arduino_block_version.h"
#include "commands.h"
#include "errors.h"
#include "number_text.h"
#include "tool_api/setting_rules.h"
#include "tool_command_line.h"

namespace blockhost {

const char kSettingKeysHelp[] =
    "KEYs: interface=usb|ethernet|N comport=N|COMN baud=N address=TEXT udpport=N\n"
    "      pin2..pin9=unused|input|output|pwm|N a0..a5=used|unused|N\n"
    "      set takes what the dialog offers (comport 1..100, baud 9600, 19200,\n"
    "      38400 or 115200, pwm on pins 3, 5, 6 and 9 only) and udpport 1..65535";
const char kInputSignalsHelp[] =
    "SIGNALs (PIN is 2..9, times in ms): 3.7  square:LOW:HIGH:PERIOD\n"
    "      sine:AMPL:OFFSET:PERIOD  ramp:FROM:TO:PERIOD";

namespace {

using tool_cli::Refuse;

// A sub-command that fills line->command when chosen.
CLI::App* AddCommand(CLI::App* app, CommandLine* line, const std::string& name,
                     const std::string& usage, const std::string& description) {
  CLI::App* command = app->add_subcommand(name, description);
  command->group("commands");
  tool_cli::SetUsage(command, usage);
  command->parse_complete_callback([line, name] { line->command = name; });
  return command;
}

void AddCommands(CLI::App* app, CommandLine* line) {
  for (const Command* command : kCommands) {
    command->add_options(AddCommand(app, line, command->name, command->usage, command->description),
                         line);
  }
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
  app->footer(std::string(kSettingKeysHelp) + "\n" + kInputSignalsHelp +
              "\n\n"
              "exit status: 0 success, 1 bad arguments or files, 2 library error;\n"
              "  run: 5 the port cannot be opened, 9 the board did not answer in some\n"
              "  steps, 130 stopped by Ctrl-C (SIGINT), 143 stopped by SIGTERM;\n"
              "  configure: 10 nothing changed, 11 no display (nothing saved either way);\n"
              "  check: 3 no answer from the board, 4 an answer that is no number,\n"
              "  5 the port cannot be opened, 8 the board answers at another speed;\n"
              "  board-address: 3 no answer, 5 the port cannot be opened, 6 refused,\n"
              "  7 not the Ethernet image;\n"
              "  flash: 5 the port cannot be opened, 12 no image, 13 no avrdude,\n"
              "  14 another chip, 15 avrdude failed; then check's 3, 4 or 8\n"
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
    // CLI11's help() would give the help of the chosen sub-command, `help`
    // itself, which has nothing to say.
    fputs(app->get_formatter()
              ->make_help(app.get(), app->get_name(), CLI::AppFormatMode::Normal)
              .c_str(),
          stdout);
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

const Command* FindCommand(const std::string& name) {
  for (const Command* command : kCommands) {
    if (name == command->name) return command;
  }
  return nullptr;
}

void AddLibraryOption(CLI::App* command, CommandLine* line) {
  command
      ->add_option("--lib", line->library,
                   "the block library; by default the one beside\n"
                   "blockhost (arduino_block.so, ArduinoBlock.dll)")
      ->type_name("PATH");
}

CLI::Option* AddProjectOption(CLI::App* command, CommandLine* line) {
  return command->add_option("--project", line->project, "the project file")->type_name("F");
}

void AddBoardPortOption(CLI::App* command, CommandLine* line) {
  tool_cli::AddValueOption(command, "--comport", "N", "the board's USB serial port (3 or COM3)",
                           [line](const std::string& text) {
                             line->com_port = ParseComPortOption("--comport", text, false);
                           })
      ->required();
}

int32_t ParseNumberOption(const std::string& option, const std::string& text, int32_t low,
                          int32_t high) {
  const std::optional<int32_t> value = tool_cli::ParseNumber<int32_t>(text);
  if (!value || *value < low || *value > high) {
    Refuse(option,
           "'" + text + "' is not a number " + std::to_string(low) + ".." + std::to_string(high));
  }
  return *value;
}

// `check` holds a COM port to the numbers the dialog offers; board-address
// opens any port it is given.
int32_t ParseComPortOption(const std::string& option, const std::string& text, bool judge) {
  std::optional<int32_t> port = arduino::ParseComPortText(text);
  if (!port) Refuse(option, "'" + text + "' is no COM port number (3 or COM3)");
  if (judge) {
    if (auto why = arduino::ComPortRefusal(*port)) Refuse(option, *why);
  }
  return *port;
}

std::string CommandWithProject(const std::string& command, const CommandLine& line) {
  const auto quoted = [](const std::string& text) {
    return text.find_first_of(" \t'\"") == std::string::npos ? text : "\"" + text + "\"";
  };
  std::string typed = "blockhost " + command;
  if (!line.library.empty()) typed += " --lib " + quoted(line.library);
  return typed + " --project " + quoted(line.project);
}

}  // namespace blockhost
