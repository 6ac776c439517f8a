// The application object on Windows: the pump is the calling thread's
// message queue, which is where the UDP endpoints' notification windows get
// their socket reports.
#include <windows.h>

#include "base/application.h"
#include "base/float_state.h"

namespace arduino {
namespace {

// A WM_QUIT that a pump pass took from the queue.  It belongs to the host's
// own loop, so it is handed back when the wait ends instead of being lost.
struct PendingQuit {
  bool taken = false;
  WPARAM exit_code = 0;
};

PendingQuit g_pending_quit;

}  // namespace

void TApplication::ProcessMessages() {
  // Host code runs here under the host's own control word, and not only
  // what DispatchMessage calls: PeekMessage itself calls the window
  // procedures of messages sent from other threads before it returns.
  HostCodeScope host_code;
  // Each message is taken and dispatched in the character set of the window
  // it is for: taken with the ANSI calls, a character that the code page
  // cannot hold would reach a Unicode host window as a question mark.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
    bool unicode = message.hwnd == nullptr || IsWindowUnicode(message.hwnd);
    BOOL taken = unicode ? PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)
                         : PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
    if (!taken) break;
    if (message.message == WM_QUIT) {
      g_pending_quit = {true, message.wParam};
      continue;
    }
    TranslateMessage(&message);
    if (unicode) {
      DispatchMessageW(&message);
    } else {
      DispatchMessageA(&message);
    }
  }
}

// Peeking at the queue is how Windows tells what is ready; there is nothing
// cheaper to do instead.
void TApplication::DispatchReady() { ProcessMessages(); }

// Under Wine, a reply wait that began with the sleep rather than with the
// pass's look at the queue took about a third longer per exchange: the pass
// stays.
const bool TApplication::kFirstSleepCoversAPass = false;

// The wait dispatches nothing: what woke it is for the pass after it.
bool TApplication::WaitForMessage(uint32_t timeout_ms) {
  // MWMO_INPUTAVAILABLE wakes up for input that is already queued but was
  // seen by an earlier peek, which a plain wait would sleep through.
  MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return false;
}

void TApplication::RestoreHostState() {
  if (!g_pending_quit.taken) return;
  // PostQuitMessage only sets the queue's quit flag, so the host's GetMessage
  // sees WM_QUIT after everything else that is queued, as it would have.
  PostQuitMessage(static_cast<int>(g_pending_quit.exit_code));
  g_pending_quit = {};
}

void TApplication::ShowCursor(int cursor) {
  LPCSTR shape = cursor == crHourGlass ? IDC_WAIT : IDC_ARROW;
  // The scope is needed: inside the class, SetCursor names our own member.
  ::SetCursor(LoadCursorA(nullptr, shape));
}

}  // namespace arduino
