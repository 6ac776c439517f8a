#include <dlfcn.h>
#include <link.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host_system.h"

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

bool IsAddressOfThisMachine(const std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0) return false;
  bool local = false;
  for (const addrinfo* entry = found; entry != nullptr && !local; entry = entry->ai_next) {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) continue;
    sockaddr_in where{};
    std::memcpy(&where, entry->ai_addr, sizeof where);
    where.sin_port = 0;  // any free port: only the address is in question
    local = bind(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    close(probe);
  }
  freeaddrinfo(found);
  return local;
}

}  // namespace blockhost
