// The application object on Linux: the pump is GLib's default main context,
// which is where the UDP endpoints attach their socket watches.
#include <glib.h>

#include "host/application.h"

namespace arduino {

void TApplication::ProcessMessages() {
  GMainContext* context = g_main_context_default();
  while (g_main_context_pending(context)) g_main_context_iteration(context, FALSE);
}

void TApplication::WaitForMessage(uint32_t timeout_ms) {
  if (timeout_ms == 0) return;
  // A timer source bounds the blocking iteration, so the wait sleeps until
  // either a socket becomes readable or the deadline comes, and never spins.
  GMainContext* context = g_main_context_default();
  GSource* timer = g_timeout_source_new(timeout_ms);
  g_source_set_callback(timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr,
                        nullptr);
  g_source_attach(timer, context);
  g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
}

// GLib has no quit message that a pass could take from the host.
void TApplication::RestoreHostState() {}

// There is no application-wide cursor without a toolkit window of our own;
// the state is kept for the dialog and for anyone who asks.
void TApplication::ShowCursor(int) {}

}  // namespace arduino
