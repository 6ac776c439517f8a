// The application object on Linux: the pump is GLib's default main context,
// which is where the UDP endpoints attach their socket watches.
#include <glib.h>

#include <algorithm>
#include <vector>

#include "base/application.h"
#include "base/float_state.h"

namespace arduino {
namespace {

// Reused between iterations so that a pump pass allocates nothing.
std::vector<GPollFD> poll_fds(16);

// One iteration of the default context done by hand: prepare, poll for at
// most `timeout_ms` (less if a source wants to run sooner), check, dispatch.
// This is what g_main_context_iteration does, except that the sleep is
// bounded by our own deadline without attaching a timer source, which would
// wake the context twice more per wait.  Without `ask_system` the poll is
// left out and every descriptor counts as quiet: only what is ready without
// asking the system runs (idle work, timers that are due, sources attached
// from other threads).  Returns whether anything ran, and in `idle_only`
// whether what ran was idle-priority work alone.
bool Iterate(GMainContext* context, gint timeout_ms, bool* idle_only = nullptr,
             bool ask_system = true) {
  gint max_priority = 0;
  bool ready_before_poll = g_main_context_prepare(context, &max_priority);
  gint source_timeout = -1;
  gint needed;
  while ((needed = g_main_context_query(context, max_priority, &source_timeout, poll_fds.data(),
                                        static_cast<gint>(poll_fds.size()))) >
         static_cast<gint>(poll_fds.size())) {
    poll_fds.resize(needed);
  }
  if (ask_system) {
    gint timeout = timeout_ms;
    if (source_timeout >= 0 && source_timeout < timeout) timeout = source_timeout;
    g_poll(poll_fds.data(), static_cast<guint>(needed), timeout);
  } else {
    for (gint i = 0; i < needed; ++i) poll_fds[i].revents = 0;
  }
  if (!g_main_context_check(context, max_priority, poll_fds.data(), needed)) return false;
  if (idle_only != nullptr) {
    // The priority that prepare reports only covers sources that were ready
    // before the poll; with nothing ready it is G_MAXINT.  Sources woken by
    // the poll, such as a socket watch with a datagram waiting, outrank idle
    // work, and check picks them first.  So idle work alone runs only when
    // it was the best that prepare found and the poll woke nothing.
    bool polled_events = std::any_of(poll_fds.begin(), poll_fds.begin() + needed,
                                     [](const GPollFD& fd) { return fd.revents != 0; });
    *idle_only = ready_before_poll && max_priority >= G_PRIORITY_DEFAULT_IDLE && !polled_events;
  }
  {
    // The sources may be the host's, whose code expects its own state.
    HostCodeScope host_code;
    g_main_context_dispatch(context);
  }
  return true;
}

// A pass: iterations until nothing more is ready.  An idle source is always
// ready: a host idle handler that keeps running would make the pass endless
// and the waits' limits meaningless.  Such work gets one turn per pass, as
// on Windows, where idle time is no message.  Everything else runs until
// nothing is ready: every datagram waiting is handled in the same pass, as
// the Windows pump drains its queue.
void Pass(bool ask_system) {
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) return;  // another thread runs it
  bool idle_only = false;
  while (Iterate(context, 0, &idle_only, ask_system) && !idle_only) {
  }
  g_main_context_release(context);
}

}  // namespace

void TApplication::ProcessMessages() { Pass(true); }

// The wait before this pass has just polled every descriptor and dispatched
// what it found; polling them again at once would find nothing new, and it
// would cost each exchange a system call.
void TApplication::DispatchReady() { Pass(false); }

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

// The sleep polls every descriptor the pass would look at and dispatches
// what it finds, so a pass before it finds nothing the sleep would not.
const bool TApplication::kFirstSleepCoversAPass = true;

// GLib has no quit message that a pass could take from the host.
void TApplication::RestoreHostState() {}

}  // namespace arduino
