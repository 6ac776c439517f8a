// Runs another program (avrdude) to its end, passing on what it writes as it
// writes it, so its progress shows, and keeping a copy to read afterwards.
#pragma once

#include <string>
#include <vector>

namespace blockhost {

struct ProgramRun {
  bool started = false;
  std::string why_not;  // when it could not be started
  int exit_code = -1;
  std::string output;  // its standard output and error, interleaved as written
};

// PROGRAM is a path, not looked up on PATH.  Its output goes to our stderr.
ProgramRun RunProgramEchoing(const std::string& program, const std::vector<std::string>& args);

// One argument as Windows' command-line parsing reads it back unchanged.
std::string QuotedForWindows(const std::string& argument);

}  // namespace blockhost
