// `blockhost latency`: an FTDI bridge's latency timer, shown and set.  The
// bridge holds what the board sent until the timer runs out, 16 ms unless
// lowered, and every exchange of a step waits that long for its reply.
#include <cstdio>
#include <string>

#include "commands.h"
#include "held_port.h"
#include "tool_api/port_list.h"
#include "tool_command_line.h"

namespace blockhost {
namespace {

// Who may change the timer, and from when the driver uses it.
#ifdef _WIN32
std::string NeedsRightText(int32_t, int) {
  return "changing the latency timer needs an administrator: run blockhost from a command "
         "prompt opened as administrator";
}
constexpr char kWhenItHolds[] =
    "it takes effect the next time a program opens the port; if not, unplug the board and plug "
    "it in again";
#else
std::string NeedsRightText(int32_t com_port, int ms) {
  return "changing the latency timer needs root: sudo blockhost latency --comport " +
         std::to_string(com_port) + " " + std::to_string(ms);
}
constexpr char kWhenItHolds[] =
    "the driver uses it at once, until the board is unplugged; the block also asks for 1 ms "
    "whenever it opens the port";
#endif

int LatencyCommand(const CommandLine& line) {
  const int32_t com_port = *line.com_port;
  const std::string device = DeviceOrSayNone(com_port);
  if (device.empty()) return kExitPortUnusable;
  const std::string port_text = PortWithDevice(com_port);
  for (const arduino::SerialPortInfo& port : arduino::ListSerialPorts()) {
    if (port.com_port != com_port) continue;
    if (port.latency_timer_ms == 0) break;
    if (!line.latency_ms) {
      printf("%s: FTDI latency timer %d ms (%s)\n", port_text.c_str(), port.latency_timer_ms,
             port.latency_place.c_str());
      if (port.latency_timer_ms > 1) {
        printf("`blockhost latency --comport %d 1` sets it to 1 ms, the shortest\n", com_port);
      }
      return kExitOk;
    }
    const arduino::LatencyChange change = arduino::SetLatencyTimer(port, *line.latency_ms);
    if (change.not_permitted) {
      fprintf(stderr, "blockhost: %s\n", NeedsRightText(com_port, *line.latency_ms).c_str());
      return kExitNotPermitted;
    }
    if (!change.done) {
      fprintf(stderr, "blockhost: the latency timer of %s is still %d ms: %s\n", port_text.c_str(),
              port.latency_timer_ms, change.error.c_str());
      return kExitNoLatencyTimer;
    }
    printf("%s: FTDI latency timer set to %d ms (it was %d ms)\n%s\n", port_text.c_str(),
           *line.latency_ms, port.latency_timer_ms, kWhenItHolds);
    return kExitOk;
  }
  fprintf(stderr,
          "blockhost: %s has no latency timer: only FTDI bridges have one (a genuine Uno's or "
          "Mega's ATmega16U2 passes replies on every 4 ms, a CH340 within about 1 ms)\n",
          port_text.c_str());
  return kExitNoLatencyTimer;
}

void AddLatencyOptions(CLI::App* command, CommandLine* line) {
  AddBoardPortOption(command, line);
  tool_cli::AddValueOption(command, "ms", "MS",
                           "the timer to set, 1 to 255 ms; without it\nthe timer is shown",
                           [line](const std::string& text) {
                             line->latency_ms = ParseNumberOption("MS", text, 1, 255);
                           });
  command->footer(
      "exit status: 0 done, 1 bad arguments, 5 the port cannot be opened,\n"
      "  16 the port has no latency timer, 17 changing it needs root or an administrator");
}

}  // namespace

const Command kLatencyCommand = {"latency", "usage: blockhost latency --comport N [MS]\n",
                                 "show an FTDI bridge's latency timer,\nor set it to MS",
                                 AddLatencyOptions, LatencyCommand};

}  // namespace blockhost
