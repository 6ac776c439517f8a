// avrboard: the compiled board firmware on a simulated ATmega328P (Uno) or
// ATmega2560 (Mega 2560), paced to the wall clock, with UART0 on a
// pseudo-terminal.  Tests point the block's serial link at the terminal and
// read the pins' history from --log; SIGUSR1 asks how the chip kept pace
// with the wall clock (pace_meter.h).  With --ethernet a W5100 model sits on
// the SPI bus and its wire is a UDP socket on 127.0.0.1.  session.h holds
// the run itself.
#include <signal.h>

#include <optional>

#include "avrboard_command_line.h"
#include "session.h"

namespace {

avrboard::RunSignals g_signals;

void OnStopSignal(int signal_number) { g_signals.stop = signal_number; }
void OnContinue(int) { g_signals.resumed = true; }
void OnReportRequest(int) { g_signals.report = true; }

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
  // These two must not cut short the loop's reads and writes; its wait
  // wakes for them all the same, as ppoll is never restarted.
  struct sigaction resumed {};
  resumed.sa_handler = OnContinue;
  resumed.sa_flags = SA_RESTART;
  sigaction(SIGCONT, &resumed, nullptr);
  struct sigaction report {};
  report.sa_handler = OnReportRequest;
  report.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &report, nullptr);
  return session.Run(g_signals);
}
