// What the end-to-end tests take from the harness, and the library under
// test: the built arduino_block.so, loaded once per program as a host loads
// it; blockhost run against it, and Contains, for what a program printed.
// The fault matrix and the soak tests use it too.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "loaded_block.h"

namespace e2e {

using harness::BlockSettings;
using harness::ChildProcess;
using harness::LoadedBlock;
using harness::ReadFile;
using harness::ReadLines;
using harness::RunProgram;
using harness::RunResult;
using harness::SimulationRun;
using harness::TempDir;
using harness::Values;
using harness::WriteFile;

inline const harness::BlockExports& Module() {
  return harness::SharedLibrary(ARDUINO_BLOCK_MODULE).exports();
}

// blockhost with `args`, the command first, and the library under test
// given to every command but `ports`, which loads none.
inline RunResult Blockhost(std::vector<std::string> args,
                           const std::vector<std::string>& environment = {}) {
  args.insert(args.begin(), BLOCKHOST_PATH);
  if (args[1] != "ports") args.insert(args.begin() + 2, {"--lib", ARDUINO_BLOCK_MODULE});
  return RunProgram(args, environment);
}

// Whether a program's output holds `part`.
inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace e2e
