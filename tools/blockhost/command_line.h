// The command line of blockhost: one sub-command and its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
};

// Fills *line from argv.  Returns nothing when blockhost should go on with
// line->command; otherwise the exit status, after printing the help, the
// version, or the usage error (an unknown command or option, an option the
// command does not take, a missing or bad value, a required option left out).
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* line);

// Reports a usage error the command found later (a bad KEY=VALUE, say) as
// ParseCommandLine reports its own, with the usage of `command`.
void ReportUsageError(const std::string& command, const std::string& message);

}  // namespace blockhost
