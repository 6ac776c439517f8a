// The library's application object: the owner window of its dialogs, the
// application-wide busy cursor and the message pump that the waits run.
#pragma once

#include <cstdint>

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
  // Sleeps until a message or event arrives or `timeout_ms` has passed.  It
  // may dispatch what arrived; callers run ProcessMessages afterwards anyway.
  void WaitForMessage(uint32_t timeout_ms);
  // Called when a wait or an export ends: hands back anything the pump took
  // that belongs to the host's own loop (a quit message on Windows).
  void RestoreHostState();

 private:
  void ShowCursor(int cursor);  // the platform's part of SetCursor

  uint32_t owner_window_ = 0;
  int cursor_ = crDefault;
};

TApplication& Application();

}  // namespace arduino
