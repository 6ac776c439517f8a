#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "process_environment.h"

namespace blockhost {

std::string ExecutableDirectory() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return ".";
  return self.parent_path().string();
}

std::string DefaultLibraryPath() { return ExecutableDirectory() + "/arduino_block.so"; }

std::string LibraryFileVersion(const std::string& path) {
  // Kept in step with src/host/library_posix.cpp.
  static const std::string kMark = "@(#)arduino-block library ";
  // A name without a folder was found on the search path when it was
  // loaded; the loaded copy knows its file.
  std::string file_name = path;
  if (path.find('/') == std::string::npos) {
    if (void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
      link_map* map = nullptr;
      if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) file_name = map->l_name;
      dlclose(handle);
    }
  }
  std::ifstream file(file_name, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t mark = image.find(kMark);
  if (mark == std::string::npos) return "";
  const size_t start = mark + kMark.size();
  const size_t end = image.find('\0', start);
  if (end == std::string::npos || end - start > 64) return "";
  return image.substr(start, end - start);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::optional<std::string> ProcessVariable(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace blockhost
