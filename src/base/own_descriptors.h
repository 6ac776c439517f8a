// The library's own descriptors on Linux: sockets that no host code can
// watch, each with the read that its GLib watch makes when it is ready.  A
// wait whose sleep wakes for these alone, with nothing of the host's ready
// or due, makes those reads itself instead of a round of GLib's check and
// dispatch, and the pass after the sleep, that would find nothing else
// (application_glib.cpp).
#pragma once

namespace arduino {

using OwnDescriptorRead = void (*)(void* owner);

// `read(owner)` must run no pump and no host code.  A descriptor is added
// once; removing one that is not there does nothing.
void AddOwnDescriptor(int fd, OwnDescriptorRead read, void* owner);
void RemoveOwnDescriptor(int fd);

}  // namespace arduino
