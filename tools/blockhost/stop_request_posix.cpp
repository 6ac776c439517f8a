#include <signal.h>
#include <unistd.h>

#include "stop_request.h"

namespace blockhost {
namespace {

volatile sig_atomic_t requested = 0;
volatile sig_atomic_t line_open = 0;

void OnStopSignal(int signal_number) {
  requested = signal_number == SIGTERM ? kExitTerminated : kExitInterrupted;
  // The handler is gone after one call (SA_RESETHAND): a second signal ends
  // the program.
  static const char kNote[] = "blockhost: stopping after this step; once more to quit at once\n";
  ssize_t ignored = line_open ? write(STDERR_FILENO, "\n", 1) : 0;
  ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
  (void)ignored;
}

void Install(void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void CatchStopRequests(bool break_line) {
  requested = 0;
  line_open = break_line;
  // SA_RESTART: the library's reads and waits go on as they would without
  // the signal, and the step ends as it would have.
  Install(OnStopSignal, SA_RESETHAND | SA_RESTART);
}

void ReleaseStopRequests() { Install(SIG_DFL, 0); }

int StopRequested() { return requested; }

}  // namespace blockhost
