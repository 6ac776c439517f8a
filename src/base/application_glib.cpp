// The application object on Linux: the pump is GLib's default main context,
// which is where the UDP endpoints attach their socket watches.
#include <glib.h>

#include <algorithm>
#include <vector>

#include "base/application.h"

namespace arduino {
namespace {

// Reused between iterations so that a pump pass allocates nothing.
std::vector<GPollFD> poll_fds(16);

// One iteration of the default context done by hand: prepare, poll for at
// most `timeout_ms` (less if a source wants to run sooner), check, dispatch.
// This is what g_main_context_iteration does, except that the sleep is
// bounded by our own deadline without attaching a timer source, which would
// wake the context twice more per wait.  Returns whether anything ran, and
// in `idle` whether idle-priority work was due.
bool Iterate(GMainContext* context, gint timeout_ms, bool* idle = nullptr) {
  gint max_priority = 0;
  g_main_context_prepare(context, &max_priority);
  if (idle != nullptr) *idle = max_priority >= G_PRIORITY_DEFAULT_IDLE;
  gint source_timeout = -1;
  gint needed;
  while ((needed = g_main_context_query(context, max_priority, &source_timeout, poll_fds.data(),
                                        static_cast<gint>(poll_fds.size()))) >
         static_cast<gint>(poll_fds.size())) {
    poll_fds.resize(needed);
  }
  gint timeout = timeout_ms;
  if (source_timeout >= 0 && source_timeout < timeout) timeout = source_timeout;
  g_poll(poll_fds.data(), static_cast<guint>(needed), timeout);
  if (!g_main_context_check(context, max_priority, poll_fds.data(), needed)) return false;
  g_main_context_dispatch(context);
  return true;
}

}  // namespace

void TApplication::ProcessMessages() {
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) return;  // another thread runs it
  // An idle source is always ready: a host idle handler that keeps running
  // would make the pass endless and the waits' limits meaningless.  Such work
  // gets one turn per pass, as on Windows, where idle time is no message.
  bool idle = false;
  while (Iterate(context, 0, &idle) && !idle) {
  }
  g_main_context_release(context);
}

void TApplication::WaitForMessage(uint32_t timeout_ms) {
  if (timeout_ms == 0) return;
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) {
    // Another thread runs the context; all we can do is not spin.
    g_usleep(1000 * std::min<uint32_t>(timeout_ms, 10));
    return;
  }
  Iterate(context, static_cast<gint>(std::min<uint32_t>(timeout_ms, G_MAXINT)));
  g_main_context_release(context);
}

// GLib has no quit message that a pass could take from the host.
void TApplication::RestoreHostState() {}

}  // namespace arduino
