// boardsim: an emulated board for the demo, the tests and the benchmarks.
#include <cstdio>
#include <string>

#include "arduino_block_version.h"
#include "options.h"
#include "simulator.h"

int main(int argc, char** argv) {
  boardsim::Options options;
  std::string error;
  switch (boardsim::ParseOptions(argc, argv, &options, &error)) {
    case boardsim::ParseOutcome::kHelp:
      fputs(boardsim::UsageText(), stdout);
      return 0;
    case boardsim::ParseOutcome::kVersion:
      printf("boardsim %s\n", ARDUINO_BLOCK_VERSION);
      return 0;
    case boardsim::ParseOutcome::kError:
      fprintf(stderr, "boardsim: %s\nTry 'boardsim --help'.\n", error.c_str());
      return 1;
    case boardsim::ParseOutcome::kRun:
      break;
  }
  return boardsim::RunSimulator(options);
}
