// blockhost: loads a block library and drives it as a simulation host would.
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "errors.h"

int main(int argc, char** argv) {
  using namespace blockhost;
  CommandLine line;
  if (std::optional<int> status = ParseCommandLine(argc, argv, &line)) return *status;
  try {
    // The parser has taken no other name than one of the table's.
    return FindCommand(line.command)->run(line);
  } catch (const UsageError& error) {
    ReportUsageError(line.command, error.what());
    return kExitUsage;
  } catch (const InputError& error) {
    fprintf(stderr, "blockhost: %s\n", error.what());
    return kExitUsage;
  } catch (const LibraryError& error) {
    fprintf(stderr, "blockhost: library error: %s\n", error.what());
    return kExitLibrary;
  }
}
