#include <signal.h>
#include <unistd.h>

#include "stop_request.h"

namespace blockhost {
namespace {

volatile sig_atomic_t requested = 0;

void OnStopSignal(int signal_number) {
  requested = signal_number == SIGTERM ? kExitTerminated : kExitInterrupted;
  // The handler is gone after one call (SA_RESETHAND): a second signal ends
  // the program.
  static const char kNote[] = "\nblockhost: stopping after this step; once more to quit at once\n";
  const ssize_t ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
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

void CatchStopRequests() {
  requested = 0;
  // SA_RESTART: the library's reads and waits go on as they would without
  // the signal, and the step ends as it would have.
  Install(OnStopSignal, SA_RESETHAND | SA_RESTART);
}

void ReleaseStopRequests() { Install(SIG_DFL, 0); }

int StopRequested() { return requested; }

}  // namespace blockhost
