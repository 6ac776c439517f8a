// The UDP endpoint on BSD sockets.  A GLib fd watch on the default main
// context stands in for the notification window: the socket layer's "a
// datagram is waiting" becomes a dispatch in the host's pump, and each
// dispatch reads every datagram waiting with one recvmmsg and delivers them
// in arrival order, as the Windows pump drains its queue of notifications.
// One call, rather than a read per datagram and a poll to learn that none
// is left, is what keeps an exchange at a send, a wait and a read.
#include <arpa/inet.h>
#include <errno.h>
#include <gio/gio.h>
#include <glib-unix.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "arduino_block.h"
#include "base/application.h"
#include "base/own_descriptors.h"
#include "base/ticks.h"
#include "link/NMUDP.h"
#include "link/socket_address.h"

namespace arduino {
namespace {

// Completion state of one asynchronous look-up.  It outlives an abandoned
// wait, because the resolver may call back after the send has given up.
struct Lookup {
  bool done = false;
  bool abandoned = false;
  std::optional<uint32_t> address;
};

void LookupFinished(GObject* source, GAsyncResult* result, gpointer data) {
  auto* lookup = static_cast<Lookup*>(data);
  GList* addresses =
      g_resolver_lookup_by_name_finish(G_RESOLVER(source), result, /*error=*/nullptr);
  for (GList* item = addresses; item != nullptr; item = item->next) {
    GInetAddress* address = G_INET_ADDRESS(item->data);
    if (g_inet_address_get_family(address) == G_SOCKET_FAMILY_IPV4) {
      uint32_t bytes = 0;
      std::memcpy(&bytes, g_inet_address_to_bytes(address), sizeof bytes);
      lookup->address = bytes;
      break;
    }
  }
  g_resolver_free_addresses(addresses);
  lookup->done = true;
  if (lookup->abandoned) delete lookup;
}

}  // namespace

// Datagrams taken by one recvmmsg.  A board sends one reply per command, so
// more than one waiting is rare; a full batch is followed by another call.
constexpr unsigned kBatch = 8;

struct TNMUDP::Platform {
  int fd = -1;
  GSource* watch = nullptr;  // reports a readable socket to the pump
  // One buffer and sender address per datagram of a batch.
  char buffers[kBatch][kReceiveBufferSize];
  sockaddr_in from[kBatch];
  iovec parts[kBatch];
  mmsghdr messages[kBatch];

  // The headers point into this object, which never moves, so they are set
  // once; a read only changes the lengths, which RearmBatch resets.
  Platform() {
    for (unsigned i = 0; i < kBatch; ++i) {
      parts[i] = {buffers[i], sizeof buffers[i]};
      from[i] = {};
      messages[i] = {};
      messages[i].msg_hdr.msg_name = &from[i];
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
  }
  void RearmBatch() {
    for (unsigned i = 0; i < kBatch; ++i) messages[i].msg_hdr.msg_namelen = sizeof from[i];
  }

  void Unwatch() {
    if (watch == nullptr) return;
    RemoveOwnDescriptor(fd);
    g_source_destroy(watch);
    g_source_unref(watch);
    watch = nullptr;
  }
  void Close() {
    Unwatch();
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

static int NewSocket() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) RaiseSocketError(errno);
  return fd;
}

void TNMUDP::PlatformDeleter::operator()(Platform* platform) const { delete platform; }

void TNMUDP::CreatePlatform() {
  platform_.reset(new Platform);
  platform_->fd = NewSocket();
}

void TNMUDP::DestroyPlatform() {
  if (platform_) platform_->Close();
}

void TNMUDP::RecreateSocket() {
  platform_->Close();
  platform_->fd = NewSocket();
}

void TNMUDP::BindAndRegister(uint16_t port) {
  // No SO_REUSEADDR: a second bind of a held port must fail, as it does on
  // Windows, so the first block keeps port 1600 to itself.
  sockaddr_in local = Ipv4SocketAddress<sockaddr_in>(AF_INET, htonl(INADDR_ANY), htons(port));
  (void)bind(platform_->fd, reinterpret_cast<sockaddr*>(&local), sizeof local);

  platform_->watch = g_unix_fd_source_new(platform_->fd, G_IO_IN);
  g_source_set_callback(platform_->watch,
                        G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer self) -> gboolean {
                          static_cast<TNMUDP*>(self)->ReceiveWaiting();
                          return G_SOURCE_CONTINUE;
                        }),
                        this, nullptr);
  // GLib would otherwise take the watch out of the poll set for the length
  // of each dispatch and put it back after, waking the context twice per
  // datagram.  The handler never runs the pump itself, so there is no
  // recursion to guard against.
  g_source_set_can_recurse(platform_->watch, TRUE);
  g_source_attach(platform_->watch, g_main_context_default());
  // No host code watches this socket: a reply wait that wakes for it alone
  // reads it without a round of the context (own_descriptors.h).
  AddOwnDescriptor(
      platform_->fd, [](void* self) { static_cast<TNMUDP*>(self)->ReceiveWaiting(); }, this);
}

std::optional<uint32_t> TNMUDP::ParseAddressLiteral(const std::string& host) const {
  in_addr_t address = inet_addr(host.c_str());
  if (address == INADDR_NONE) return std::nullopt;
  return address;
}

std::optional<uint32_t> TNMUDP::LookUpHost(const std::string& host) {
  auto* lookup = new Lookup;
  GResolver* resolver = g_resolver_get_default();
  // An empty name means this machine, as the Windows resolver takes it.
  const char* name = host.empty() ? g_get_host_name() : host.c_str();
  g_resolver_lookup_by_name_async(resolver, name, nullptr, LookupFinished, lookup);
  g_object_unref(resolver);
  if (!Application().PumpUntil([lookup] { return lookup->done; }, TickCount(), kLookupLimitMs,
                               kLookupSleepMs)) {
    lookup->abandoned = true;
    return std::nullopt;
  }
  std::optional<uint32_t> address = lookup->address;
  delete lookup;
  return address;
}

void TNMUDP::SendTo(uint32_t address, uint16_t port, const char* data, int32_t length) {
  sockaddr_in remote = Ipv4SocketAddress<sockaddr_in>(AF_INET, address, htons(port));
  // A refused or undeliverable datagram is lost without a report.
  (void)sendto(platform_->fd, data, static_cast<size_t>(length), 0,
               reinterpret_cast<sockaddr*>(&remote), sizeof remote);
}

void TNMUDP::ReceiveWaiting() {
  if (!ready_) return;
  Platform& p = *platform_;
  const int fd = p.fd;
  bool first = true;
  while (true) {
    p.RearmBatch();
    // MSG_TRUNC makes each length the datagram's real one, which is how a
    // datagram larger than the buffer is told apart from one that fits.
    int count = recvmmsg(fd, p.messages, kBatch, MSG_TRUNC | MSG_DONTWAIT, nullptr);
    if (count <= 0) {
      // A failed read is reported as one, as a single read would report it;
      // after a full batch, an empty socket is the end of the queue.
      if (first || errno != EAGAIN) Deliver(-1, 0, 0);
      return;
    }
    first = false;
    for (int i = 0; i < count; ++i) {
      size_t length = p.messages[i].msg_len;
      int32_t reported = -1;
      if (length <= sizeof receive_buffer_) {
        std::memcpy(receive_buffer_, p.buffers[i], length);
        reported = static_cast<int32_t>(length);
      }
      Deliver(reported, p.from[i].sin_addr.s_addr, ntohs(p.from[i].sin_port));
      // A handler may have replaced the socket (a new local port): what is
      // left of the batch belonged to the old one and goes with it.
      if (p.fd != fd || !ready_) return;
    }
    if (static_cast<unsigned>(count) < kBatch) return;
  }
}

uint16_t TNMUDP::BoundPort() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(platform_->fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace arduino
