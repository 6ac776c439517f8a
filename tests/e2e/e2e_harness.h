// What the end-to-end tests take from the harness, and the library under
// test: the built arduino_block.so, loaded once per program as a host loads
// it.  The fault matrix and the soak tests use it too.
#pragma once

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

}  // namespace e2e
