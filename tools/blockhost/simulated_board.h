// Whether a serial device is the terminal of avrboard, the simulated board,
// rather than a real board.  Its Ethernet image answers at 127.0.0.1 and a
// port of avrboard's, whatever address the board is given, so what a user
// must tell the block differs from what a real board needs.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace blockhost {

struct SimulatedBoard {
  int pid = 0;
  std::optional<int> udp_port;  // where its Ethernet board answers; nothing without one
};

// avrboard holding the other end of `device`; nothing for a real board, a
// terminal of another program, or on Windows.
std::optional<SimulatedBoard> SimulatedBoardBehind(const std::string& device);

// The terminal index of a pseudo-terminal master, from the text of its
// /proc/PID/fdinfo/FD ("tty-index:\t3").
std::optional<int> TerminalIndexOf(std::string_view fdinfo);

// The port of the first UDP socket among `inodes` bound to 127.0.0.1, from
// the text of /proc/net/udp.
std::optional<int> LoopbackUdpPortOf(std::string_view net_udp,
                                     const std::set<unsigned long>& inodes);

}  // namespace blockhost
