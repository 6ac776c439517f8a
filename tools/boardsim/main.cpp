// boardsim: an emulated board for the demo, the tests and the benchmarks.
#include "boardsim_command_line.h"
#include "simulator.h"

int main(int argc, char** argv) {
  boardsim::Options options;
  if (std::optional<int> status = boardsim::ParseOptions(argc, argv, &options)) return *status;
  return boardsim::RunSimulator(options);
}
