// The application object on Linux: the pump is GLib's default main context,
// which is where the UDP endpoints attach their socket watches.
#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/application.h"
#include "base/float_state.h"
#include "base/own_descriptors.h"

namespace arduino {
namespace {

// Reused between iterations so that a pump pass allocates nothing.
std::vector<GPollFD> poll_fds(16);

struct OwnDescriptor {
  int fd;
  OwnDescriptorRead read;
  void* owner;
  uint64_t serial;  // tells a descriptor from a later one of the same number
};
std::vector<OwnDescriptor> own_descriptors;
uint64_t last_serial = 0;
// The woken descriptors of one wait, reused so that a wait allocates nothing.
std::vector<uint64_t> woken_serials;

const OwnDescriptor* FindOwn(int fd) {
  for (const OwnDescriptor& own : own_descriptors) {
    if (own.fd == fd) return &own;
  }
  return nullptr;
}

const OwnDescriptor* FindSerial(uint64_t serial) {
  for (const OwnDescriptor& own : own_descriptors) {
    if (own.serial == serial) return &own;
  }
  return nullptr;
}

// The first half of an iteration of the default context done by hand:
// prepare, then query, which leaves the descriptors to poll in poll_fds.
struct Prepared {
  gint max_priority = 0;
  bool ready_before_poll = false;
  gint source_timeout = -1;  // milliseconds until a source wants to run, or -1
  gint needed = 0;           // descriptors in poll_fds
};

Prepared PrepareAndQuery(GMainContext* context) {
  Prepared p;
  p.ready_before_poll = g_main_context_prepare(context, &p.max_priority);
  while ((p.needed = g_main_context_query(context, p.max_priority, &p.source_timeout,
                                          poll_fds.data(), static_cast<gint>(poll_fds.size()))) >
         static_cast<gint>(poll_fds.size())) {
    poll_fds.resize(p.needed);
  }
  return p;
}

// Polls for at most `timeout_ms`, less if a source wants to run sooner.  The
// sleep is bounded by our own deadline without attaching a timer source,
// which would wake the context twice more per wait.  Without `ask_system`
// the poll is left out and every descriptor counts as quiet: only what is
// ready without asking the system runs (idle work, timers that are due,
// sources attached from other threads).
void Poll(const Prepared& p, gint timeout_ms, bool ask_system) {
  if (!ask_system) {
    for (gint i = 0; i < p.needed; ++i) poll_fds[i].revents = 0;
    return;
  }
  gint timeout = timeout_ms;
  if (p.source_timeout >= 0 && p.source_timeout < timeout) timeout = p.source_timeout;
  g_poll(poll_fds.data(), static_cast<guint>(p.needed), timeout);
}

// The second half: check, dispatch.  Returns whether anything ran, and in
// `idle_only` whether what ran was idle-priority work alone.
bool CheckAndDispatch(GMainContext* context, const Prepared& p, bool* idle_only) {
  if (!g_main_context_check(context, p.max_priority, poll_fds.data(), p.needed)) return false;
  if (idle_only != nullptr) {
    // The priority that prepare reports only covers sources that were ready
    // before the poll; with nothing ready it is G_MAXINT.  Sources woken by
    // the poll, such as a socket watch with a datagram waiting, outrank idle
    // work, and check picks them first.  So idle work alone runs only when
    // it was the best that prepare found and the poll woke nothing.
    bool polled_events = std::any_of(poll_fds.begin(), poll_fds.begin() + p.needed,
                                     [](const GPollFD& fd) { return fd.revents != 0; });
    *idle_only = p.ready_before_poll && p.max_priority >= G_PRIORITY_DEFAULT_IDLE && !polled_events;
  }
  {
    // The sources may be the host's, whose code expects its own state.
    HostCodeScope host_code;
    g_main_context_dispatch(context);
  }
  return true;
}

// One iteration: what g_main_context_iteration does, with the bounded poll.
bool Iterate(GMainContext* context, gint timeout_ms, bool* idle_only = nullptr,
             bool ask_system = true) {
  const Prepared p = PrepareAndQuery(context);
  Poll(p, timeout_ms, ask_system);
  return CheckAndDispatch(context, p, idle_only);
}

// After a poll that woke for the library's own descriptors alone, with
// nothing ready before it and no timer that can have come due since
// `began_us` (taken before the prepare): check would find exactly their
// watches ready, dispatch would make their reads, and a pass after it would
// find nothing.  Then this makes those reads and the iteration ends here,
// which is most of the library's own work in an exchange.  GLib needs no
// check after a query: the next prepare starts afresh, and the context's
// wake-up descriptor, which check acknowledges, did not wake (it does when
// a source adds or removes a descriptor, and then this leaves it to GLib).
// A source that turns ready in its check alone, with no descriptor and no
// time to wake the poll, runs at the next iteration that polls anything
// else.  Returns whether it made the reads.
bool ReadOwnAlone(const Prepared& p, gint64 began_us) {
  if (p.ready_before_poll) return false;
  woken_serials.clear();
  for (gint i = 0; i < p.needed; ++i) {
    if (poll_fds[i].revents == 0) continue;
    const OwnDescriptor* own = FindOwn(poll_fds[i].fd);
    if (own == nullptr) return false;
    woken_serials.push_back(own->serial);
  }
  if (woken_serials.empty()) return false;
  // The query rounds the time to the first timer up to a millisecond: less
  // than a millisecond short of it, no timer is due.
  if (p.source_timeout >= 0 &&
      g_get_monotonic_time() - began_us >= (static_cast<gint64>(p.source_timeout) - 1) * 1000) {
    return false;
  }
  for (uint64_t serial : woken_serials) {
    // Looked up again: a read may have closed another block's socket, and
    // a socket opened since, though it may have the same number, did not
    // wake this poll.
    if (const OwnDescriptor* own = FindSerial(serial)) own->read(own->owner);
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

void AddOwnDescriptor(int fd, OwnDescriptorRead read, void* owner) {
  own_descriptors.push_back({fd, read, owner, ++last_serial});
}

void RemoveOwnDescriptor(int fd) {
  own_descriptors.erase(std::remove_if(own_descriptors.begin(), own_descriptors.end(),
                                       [fd](const OwnDescriptor& own) { return own.fd == fd; }),
                        own_descriptors.end());
}

void TApplication::ProcessMessages() { Pass(true); }

// The wait before this pass has just polled every descriptor and dispatched
// what it found; polling them again at once would find nothing new, and it
// would cost each exchange a system call.
void TApplication::DispatchReady() { Pass(false); }

bool TApplication::WaitForMessage(uint32_t timeout_ms) {
  if (timeout_ms == 0) return false;
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) {
    // Another thread runs the context; all we can do is not spin.
    g_usleep(1000 * std::min<uint32_t>(timeout_ms, 10));
    return false;
  }
  const bool own = !own_descriptors.empty();
  const gint64 began_us = own ? g_get_monotonic_time() : 0;
  const Prepared p = PrepareAndQuery(context);
  Poll(p, static_cast<gint>(std::min<uint32_t>(timeout_ms, G_MAXINT)), true);
  const bool all_read = own && ReadOwnAlone(p, began_us);
  if (!all_read) CheckAndDispatch(context, p, nullptr);
  g_main_context_release(context);
  return all_read;
}

// The sleep polls every descriptor the pass would look at and dispatches
// what it finds, so a pass before it finds nothing the sleep would not.
const bool TApplication::kFirstSleepCoversAPass = true;

// GLib has no quit message that a pass could take from the host.
void TApplication::RestoreHostState() {}

}  // namespace arduino
