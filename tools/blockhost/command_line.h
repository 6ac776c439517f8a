// The command line of blockhost: one sub-command and its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace blockhost {

struct CommandLine {
  std::string command;  // info, show, set, configure, run, check, ports or board-address
  std::string library;  // --lib; empty means the library beside blockhost
  std::string project;
  std::vector<std::string> assignments;  // KEY=VALUE of `set`
  bool force = false;                    // `set --force`: any integer
  bool fix_line_ends = false;            // `set --fix-line-ends`: mend a changed file
  long steps = 100;
  double period_ms = 50.0;
  bool period_given = false;        // --period-ms; else `run` fits the period to the link
  std::vector<std::string> inputs;  // PIN=SIGNAL of `run`
  std::string csv_path;
  std::string plot_path;
  std::vector<std::string> plot_notes;  // --plot-note: lines under the plot's title
  // `check` without a project: the link to test instead.
  std::optional<int32_t> com_port;  // --comport
  int32_t baud_rate = 9600;         // --baud
  std::string address;              // --address
  int32_t udp_port = 1600;          // --udpport
  bool json = false;                // `ports --json`
  // `board-address`: what to set, empty to leave as it is, and how long to
  // wait for the board's start line.
  std::string board_address;
  std::string board_mac;           // --mac
  int32_t restart_wait_ms = 4000;  // --wait-ms
  std::optional<int> latency_ms;   // `latency`: the timer to set; nothing to show it
};

// Fills *line from argv.  Returns nothing when blockhost should go on with
// line->command; otherwise the exit status, after printing the help, the
// version, or the usage error (an unknown command or option, an option the
// command does not take, a missing or bad value, a required option left out).
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* line);

// Reports a usage error the command found later (a bad KEY=VALUE, say) as
// ParseCommandLine reports its own, with the usage of `command`.
void ReportUsageError(const std::string& command, const std::string& message);

// What the options of more than one command share: their help and how a
// value of theirs is read.  A value that will not do leaves as the usage
// error "<option>: <why>".

// The KEYs of `set` and the SIGNALs of `run --input`, in both commands' help
// and in blockhost's.
extern const char kSettingKeysHelp[];
extern const char kInputSignalsHelp[];

// --lib PATH, the block library.
void AddLibraryOption(CLI::App* command, CommandLine* line);
// --project F, the project file.
CLI::Option* AddProjectOption(CLI::App* command, CommandLine* line);
// --comport N, required: the board's USB serial port, for the commands that
// talk to a board on one (board-address, flash, latency).
void AddBoardPortOption(CLI::App* command, CommandLine* line);

// The whole of `text` as a number low..high.
int32_t ParseNumberOption(const std::string& option, const std::string& text, int32_t low,
                          int32_t high);
// A COM port: "3" or "COM3" in any case.  With `judge`, only the numbers the
// dialog offers.
int32_t ParseComPortOption(const std::string& option, const std::string& text, bool judge);

// `blockhost <command> [--lib L] --project P` as the user would type it, for
// a message to suggest: what a shell would split is quoted.
std::string CommandWithProject(const std::string& command, const CommandLine& line);

}  // namespace blockhost
