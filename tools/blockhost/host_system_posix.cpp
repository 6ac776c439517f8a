#include <unistd.h>

#include <filesystem>

#include "host_system.h"

namespace blockhost {

std::string ExecutableDirectory() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  return self.parent_path().string();
}

std::string DefaultLibraryPath() { return ExecutableDirectory() + "/arduino_block.so"; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace blockhost
