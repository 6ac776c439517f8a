// The application object on Linux: the pump is GLib's default main context,
// which is where the UDP endpoints attach their socket watches.
#include <glib.h>

#include <algorithm>
#include <vector>

#include "host/application.h"

namespace arduino {
namespace {
// Reused between waits so that a wait allocates nothing.
std::vector<GPollFD> poll_fds_(16);
}  // namespace

void TApplication::ProcessMessages() {
  GMainContext* context = g_main_context_default();
  while (g_main_context_pending(context)) g_main_context_iteration(context, FALSE);
}

void TApplication::WaitForMessage(uint32_t timeout_ms) {
  if (timeout_ms == 0) return;
  // One iteration of the context done by hand, so that the sleep is bounded
  // by our own deadline: the poll wakes for a readable socket or another
  // source, or when the time is up, and never spins.  Attaching a timer
  // source per wait would do the same but wake the context twice more.
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) {
    // Another thread runs the context; all we can do is not spin.
    g_usleep(1000 * std::min<uint32_t>(timeout_ms, 10));
    return;
  }
  gint max_priority = 0;
  g_main_context_prepare(context, &max_priority);
  gint source_timeout = -1;
  std::vector<GPollFD>& fds = poll_fds_;
  gint needed;
  while ((needed = g_main_context_query(context, max_priority, &source_timeout, fds.data(),
                                        static_cast<gint>(fds.size()))) >
         static_cast<gint>(fds.size())) {
    fds.resize(needed);
  }
  gint timeout = static_cast<gint>(timeout_ms);
  if (source_timeout >= 0 && source_timeout < timeout) timeout = source_timeout;
  g_poll(fds.data(), static_cast<guint>(needed), timeout);
  if (g_main_context_check(context, max_priority, fds.data(), needed)) {
    g_main_context_dispatch(context);
  }
  g_main_context_release(context);
}

// GLib has no quit message that a pass could take from the host.
void TApplication::RestoreHostState() {}

// There is no application-wide cursor without a toolkit window of our own;
// the state is kept for the dialog and for anyone who asks.
void TApplication::ShowCursor(int) {}

}  // namespace arduino
