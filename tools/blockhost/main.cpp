// blockhost: loads a block library and drives it as a simulation host would.
#include <cstdio>
#include <string>
#include <vector>

#include "arduino_block_version.h"
#include "command_line.h"
#include "commands.h"
#include "errors.h"

int main(int argc, char** argv) {
  using namespace blockhost;
  try {
    CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.command == "help") {
      fputs(UsageText(), stdout);
      return kExitOk;
    }
    if (line.command == "version") {
      printf("blockhost %s\n", ARDUINO_BLOCK_VERSION);
      return kExitOk;
    }
    if (line.command == "info") return InfoCommand(line);
    if (line.command == "show") return ShowCommand(line);
    if (line.command == "set") return SetCommand(line);
    if (line.command == "configure") return ConfigureCommand(line);
    if (line.command == "check") return CheckCommand(line);
    if (line.command == "ports") return PortsCommand(line);
    return RunCommand(line);
  } catch (const UsageError& error) {
    fprintf(stderr, "blockhost: %s\n\n%s", error.what(), UsageText());
    return kExitUsage;
  } catch (const InputError& error) {
    fprintf(stderr, "blockhost: %s\n", error.what());
    return kExitUsage;
  } catch (const LibraryError& error) {
    fprintf(stderr, "blockhost: library error: %s\n", error.what());
    return kExitLibrary;
  }
}
