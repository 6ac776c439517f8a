// The library's application object: the owner window of its dialogs, the
// application-wide busy cursor and the message pump that the waits run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "base/ticks.h"

namespace arduino {

constexpr int crDefault = 0;
constexpr int crHourGlass = -11;

class TApplication {
 public:
  // The window that owns the library's dialogs; 0 means none.
  void SetOwnerWindow(uint32_t window) { owner_window_ = window; }
  uint32_t OwnerWindow() const { return owner_window_; }

  // crHourGlass shows the busy cursor over the application's windows,
  // crDefault gives the choice back to each window.
  void SetCursor(int cursor);
  int Cursor() const { return cursor_; }

  // One pass of the message pump: dispatches everything pending on the
  // calling thread and returns when nothing is left.
  void ProcessMessages();
  // The pass of PumpUntil after each of its sleeps: the same as
  // ProcessMessages, except that on Linux it does not poll the
  // descriptors again.  The wait polls them (at once when something is
  // already there) and dispatches what it finds, so a reply costs the wait
  // and its read and no further call.
  void DispatchReady();
  // Sleeps until a message or event arrives or `timeout_ms` has passed.  It
  // may dispatch what arrived.  True means that it dispatched everything
  // that was ready, so that the pass after it would find nothing: on Linux,
  // when the sleep woke for the library's own sockets alone and nothing of
  // the host's was due (own_descriptors.h).  Otherwise a pass must follow.
  bool WaitForMessage(uint32_t timeout_ms);
  // Called when a wait or an export ends: hands back anything the pump took
  // that belongs to the host's own loop (a quit message on Windows).
  void RestoreHostState();

  // The library's one wait: pump passes until `done()` holds or more than
  // `limit_ms` have passed since `start` (a TickCount), sleeping between
  // passes until something arrives, at most `max_sleep_ms` at a time.  A
  // pass always comes before each look at `done()`, and one runs even when
  // the limit has already passed.  Returns whether `done()` held.  The first
  // pass follows no sleep, so it is a whole ProcessMessages that asks the
  // system what is ready: a wait that begins past its limit has no other
  // chance to take a reply already waiting at its socket.
  template <typename Done>
  bool PumpUntil(Done done, uint32_t start, uint32_t limit_ms,
                 uint32_t max_sleep_ms = std::numeric_limits<uint32_t>::max()) {
    ProcessMessages();
    return RoundsAfterAPass(done, start, limit_ms, max_sleep_ms);
  }

  // PumpUntil for a condition that no pass can make true before the wait
  // has slept once, such as the reply to a command sent a moment ago.
  // Where kFirstSleepCoversAPass, the first sleep returns at once for
  // whatever is already pending and the pass after it runs all that a pass
  // before it would have, so that pass, a whole pass of the pump on every
  // exchange, is left out.  Past the limit already there is no sleep to ask
  // the system, and it is PumpUntil, whose first pass does.
  template <typename Done>
  bool PumpUntilAfterFirstSleep(Done done, uint32_t start, uint32_t limit_ms) {
    uint32_t elapsed = TicksSince(start);
    if (!kFirstSleepCoversAPass || elapsed > limit_ms) return PumpUntil(done, start, limit_ms);
    if (!WaitForMessage(limit_ms + 1 - elapsed)) DispatchReady();
    return RoundsAfterAPass(done, start, limit_ms, std::numeric_limits<uint32_t>::max());
  }
  // Each platform file defines it.
  static const bool kFirstSleepCoversAPass;

 private:
  // A wait's rounds once its first pass has run: a look at `done()`, then,
  // within the limit, a sleep and the pass after it, unless the sleep ran
  // all that was ready itself.  Each of those passes
  // follows a sleep, which asked the system, so it need not ask again.
  template <typename Done>
  bool RoundsAfterAPass(Done& done, uint32_t start, uint32_t limit_ms, uint32_t max_sleep_ms) {
    while (true) {
      if (done()) return true;
      uint32_t elapsed = TicksSince(start);
      if (elapsed > limit_ms) return false;
      if (!WaitForMessage(std::min(limit_ms + 1 - elapsed, max_sleep_ms))) DispatchReady();
    }
  }

  void ShowCursor(int cursor);  // the platform's part of SetCursor

  uint32_t owner_window_ = 0;
  int cursor_ = crDefault;
};

TApplication& Application();

}  // namespace arduino
