#include <windows.h>

#include <atomic>

#include "stop_request.h"

namespace blockhost {
namespace {

std::atomic<int> requested{0};
std::atomic<bool> line_open{false};

// Runs on a thread of its own, which the console starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // A second request goes on to the default handler, which ends the process.
  if (requested.exchange(kExitInterrupted) != 0) return FALSE;
  static const char kNote[] = "blockhost: stopping after this step; once more to quit at once\n";
  DWORD written = 0;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (line_open) WriteFile(error, "\n", 1, &written, nullptr);
  WriteFile(error, kNote, sizeof kNote - 1, &written, nullptr);
  return TRUE;
}

}  // namespace

void CatchStopRequests(bool break_line) {
  requested = 0;
  line_open = break_line;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void ReleaseStopRequests() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

int StopRequested() { return requested.load(); }

}  // namespace blockhost
