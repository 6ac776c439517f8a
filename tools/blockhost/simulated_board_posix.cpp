#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "simulated_board.h"

namespace blockhost {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

// What avrboard `pid` holds: whether one of its descriptors is the master
// of pseudo-terminal `index`, and the inodes of its sockets.
bool HoldsMaster(const std::string& pid, int index, std::set<unsigned long>* sockets) {
  bool holds = false;
  const std::string fds = "/proc/" + pid + "/fd/";
  for (const std::string& fd : Entries(fds)) {
    const std::string target = LinkTarget(fds + fd);
    unsigned long inode = 0;
    if (sscanf(target.c_str(), "socket:[%lu]", &inode) == 1) {
      sockets->insert(inode);
    } else if (target == "/dev/ptmx" || target == "/dev/pts/ptmx") {
      holds = holds || TerminalIndexOf(ReadText("/proc/" + pid + "/fdinfo/" + fd)) == index;
    }
  }
  return holds;
}

}  // namespace

std::optional<SimulatedBoard> SimulatedBoardBehind(const std::string& device) {
  char real[PATH_MAX];
  if (realpath(device.c_str(), real) == nullptr) return std::nullopt;
  int index = -1;
  char rest = 0;
  if (sscanf(real, "/dev/pts/%d%c", &index, &rest) != 1) return std::nullopt;
  for (const std::string& pid : Entries("/proc")) {
    if (!std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    if (ReadText("/proc/" + pid + "/comm") != "avrboard\n") continue;
    std::set<unsigned long> sockets;
    if (!HoldsMaster(pid, index, &sockets)) continue;
    SimulatedBoard board;
    board.pid = std::stoi(pid);
    board.udp_port = LoopbackUdpPortOf(ReadText("/proc/net/udp"), sockets);
    return board;
  }
  return std::nullopt;
}

}  // namespace blockhost
