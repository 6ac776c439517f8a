// avrboard: the compiled board firmware on a simulated ATmega328P (Uno) or
// ATmega2560 (Mega 2560), paced to the wall clock, with UART0 on a
// pseudo-terminal.  Tests point the block's serial link at the terminal and
// read the pins' history from --log.  With --ethernet a W5100 model sits on
// the SPI bus and its wire is a UDP socket on 127.0.0.1.  session.h holds
// the run itself.
#include <signal.h>

#include <optional>

#include "avrboard_command_line.h"
#include "session.h"

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

}  // namespace

int main(int argc, char** argv) {
  avrboard::Options options;
  if (std::optional<int> status = avrboard::ParseOptions(argc, argv, &options)) return *status;
  avrboard::Session session(options);
  if (std::optional<int> status = session.Start()) return *status;
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  return session.Run(g_stop_signal);
}
