#include "simulated_board.h"

namespace blockhost {

// avrboard runs on Linux only.
std::optional<SimulatedBoard> SimulatedBoardBehind(const std::string&) { return std::nullopt; }

}  // namespace blockhost
