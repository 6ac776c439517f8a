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
    if (line.command == "info") return InfoCommand(line);
    if (line.command == "show") return ShowCommand(line);
    if (line.command == "set") return SetCommand(line);
    if (line.command == "configure") return ConfigureCommand(line);
    if (line.command == "check") return CheckCommand(line);
    if (line.command == "ports") return PortsCommand(line);
    if (line.command == "board-address") return BoardAddressCommand(line);
    return RunCommand(line);
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
