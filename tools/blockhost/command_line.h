// The command line of blockhost: one sub-command and its options.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace blockhost {

struct CommandLine {
  std::string command;  // info, show, set, configure, run, help or version
  std::string library;  // --lib; empty means the library beside blockhost
  std::string project;
  std::vector<std::string> assignments;  // KEY=VALUE of `set`
  long steps = 100;
  double period_ms = 50.0;
  std::vector<std::string> inputs;  // PIN=SIGNAL of `run`
  std::string csv_path;
  std::string plot_path;
};

// Throws UsageError for an unknown command or option, an option the command
// does not take, a missing value or a required option left out.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

const char* UsageText();

}  // namespace blockhost
