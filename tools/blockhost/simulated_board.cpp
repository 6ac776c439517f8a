#include "simulated_board.h"

#include <cstdio>
#include <sstream>

namespace blockhost {

std::optional<int> TerminalIndexOf(std::string_view fdinfo) {
  constexpr std::string_view kKey = "tty-index:";
  for (size_t at = fdinfo.find(kKey); at != std::string_view::npos;
       at = fdinfo.find(kKey, at + 1)) {
    if (at != 0 && fdinfo[at - 1] != '\n') continue;
    int index = -1;
    if (sscanf(std::string(fdinfo.substr(at + kKey.size(), 16)).c_str(), "%d", &index) == 1 &&
        index >= 0) {
      return index;
    }
  }
  return std::nullopt;
}

std::optional<int> LoopbackUdpPortOf(std::string_view net_udp,
                                     const std::set<unsigned long>& inodes) {
  std::istringstream lines{std::string(net_udp)};
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    // "  807: 0100007F:BFBA 00000000:0000 07 00000000:00000000 00:00000000
    //  00000000     0        0 1725659 ..."
    unsigned address = 0, port = 0;
    unsigned long inode = 0;
    if (sscanf(line.c_str(), " %*d: %8X:%4X %*s %*s %*s %*s %*s %*s %*s %lu", &address, &port,
               &inode) != 3) {
      continue;
    }
    // The address is in the machine's byte order as the kernel holds it:
    // 127.0.0.1 reads 0100007F on a little-endian machine.
    const bool loopback = address == 0x0100007F || address == 0x7F000001;
    if (loopback && inodes.count(inode) != 0) return static_cast<int>(port);
  }
  return std::nullopt;
}

}  // namespace blockhost
