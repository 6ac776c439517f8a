// The library's one wait, TApplication::PumpUntil: a pass before every look
// at the condition, and the limit kept on a clock that may wrap.
#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "base/application.h"
#include "base/own_descriptors.h"
#include "base/ticks.h"

namespace arduino {
namespace {

// A clock that moves 40 ms each time it is read.
uint32_t g_now = 0;
uint32_t SteppingClock() { return g_now += 40; }

class PumpUntilTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTickSource(&SteppingClock); }
  void TearDown() override { SetTickSource(nullptr); }
};

TEST_F(PumpUntilTest, DispatchesWhatIsPendingBeforeLookingAtTheCondition) {
  bool ran = false;
  g_idle_add(
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &ran);
  g_now = 0;
  int looks = 0;
  EXPECT_TRUE(Application().PumpUntil(
      [&] {
        ++looks;
        return ran;
      },
      TickCount(), 0));
  EXPECT_EQ(looks, 1);
}

TEST_F(PumpUntilTest, KeepsItsLimitAcrossTheTickWrap) {
  for (uint32_t start_at : {0u, UINT32_MAX - 100}) {
    g_now = start_at;
    uint32_t start = TickCount();
    int looks = 0;
    EXPECT_FALSE(Application().PumpUntil([&] { return ++looks < 0; }, start, 100, 1));
    // Looks at 40, 80 and 120 ms: the last one is past the limit.
    EXPECT_EQ(looks, 3) << "starting at " << start_at;
    EXPECT_GT(g_now - start, 100u);
  }
}

TEST_F(PumpUntilTest, EndsOnTheConditionBeforeTheLimit) {
  g_now = 0;
  int looks = 0;
  EXPECT_TRUE(Application().PumpUntil([&] { return ++looks == 2; }, TickCount(), 30000, 1));
  EXPECT_EQ(looks, 2);
}

// Leaving out the pass before the first sleep loses nothing: what is
// pending when the wait starts, host work or a reply, is run by the pass
// after that sleep, which returns at once for it; and a wait past its limit
// already still runs one pass and looks once.
TEST_F(PumpUntilTest, AfterFirstSleepTakesWhatIsPendingAtOnceAndKeepsTheLimit) {
  const struct {
    const char* name;
    uint32_t limit_ms;
    uint32_t started_ago_ms;
  } cases[] = {{"within the limit", 30000, 0}, {"past the limit", 100, 1000}};
  for (const auto& c : cases) {
    bool ran = false;
    guint source = g_idle_add(
        [](gpointer flag) {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &ran);
    g_now = 100000;
    const uint32_t start = g_now - c.started_ago_ms;
    int looks = 0;
    EXPECT_TRUE(Application().PumpUntilAfterFirstSleep(
        [&] {
          ++looks;
          return ran;
        },
        start, c.limit_ms))
        << c.name;
    if (!ran) g_source_remove(source);
    EXPECT_EQ(looks, 1) << c.name;
  }
}

TEST_F(PumpUntilTest, AfterFirstSleepEndsAtTheLimitWhenNothingComes) {
  g_now = 0;
  uint32_t start = TickCount();
  int looks = 0;
  EXPECT_FALSE(Application().PumpUntilAfterFirstSleep([&] { return ++looks < 0; }, start, 100));
  EXPECT_GT(g_now - start, 100u);
}

// A wait that begins past its limit runs one pass, and that pass must ask
// the system what is ready: a datagram already waiting at a watched socket
// is delivered, whichever way the wait is entered.  The idle source of the
// case above is ready without asking, so it cannot show this.
TEST_F(PumpUntilTest, PastTheLimitAlreadyDeliversWhatWaitsAtAWatchedSocket) {
  using Wait = bool (*)(const bool* delivered, uint32_t start);
  const struct {
    const char* name;
    Wait wait;
  } entries[] = {
      {"PumpUntil",
       [](const bool* delivered, uint32_t start) {
         return Application().PumpUntil([delivered] { return *delivered; }, start, 100);
       }},
      {"PumpUntilAfterFirstSleep",
       [](const bool* delivered, uint32_t start) {
         return Application().PumpUntilAfterFirstSleep([delivered] { return *delivered; }, start,
                                                       100);
       }},
  };
  for (const auto& entry : entries) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    // A local datagram socket queues what is sent before send returns.
    ASSERT_EQ(send(pair[0], "x", 1, 0), 1);
    bool delivered = false;
    GSource* watch = g_unix_fd_source_new(pair[1], G_IO_IN);
    g_source_set_callback(watch,
                          G_SOURCE_FUNC(+[](gint fd, GIOCondition, gpointer flag) -> gboolean {
                            char byte;
                            *static_cast<bool*>(flag) = read(fd, &byte, 1) == 1;
                            return G_SOURCE_CONTINUE;
                          }),
                          &delivered, nullptr);
    g_source_attach(watch, g_main_context_default());
    g_now = 100000;
    EXPECT_TRUE(entry.wait(&delivered, g_now - 1000)) << entry.name;
    g_source_destroy(watch);
    g_source_unref(watch);
    close(pair[0]);
    close(pair[1]);
  }
}

// A socket of the library's own, watched as the UDP endpoint watches its
// own: a GLib watch for the host's loop, and the same read registered as the
// library's.  Either way the datagram is read once.
struct OwnSocket {
  int pair[2] = {-1, -1};
  int direct_reads = 0, watch_reads = 0;
  guint watch = 0;

  OwnSocket() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    watch = g_unix_fd_add(
        pair[1], G_IO_IN,
        [](gint, GIOCondition, gpointer self) {
          return static_cast<OwnSocket*>(self)->Read(false);
        },
        this);
    AddOwnDescriptor(
        pair[1], [](void* self) { static_cast<OwnSocket*>(self)->Read(true); }, this);
  }
  ~OwnSocket() {
    RemoveOwnDescriptor(pair[1]);
    g_source_remove(watch);
    close(pair[0]);
    close(pair[1]);
  }
  gboolean Read(bool direct) {
    char byte;
    if (recv(pair[1], &byte, 1, MSG_DONTWAIT) == 1) ++(direct ? direct_reads : watch_reads);
    return G_SOURCE_CONTINUE;
  }
};

// Host work beside a datagram at the library's own socket.
struct HostWork {
  int ran = 0;
  int pair[2] = {-1, -1};
};

gboolean RunOnce(gpointer work) {
  ++static_cast<HostWork*>(work)->ran;
  return G_SOURCE_REMOVE;
}

guint AttachReadyHostSocket(HostWork* work) {
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, work->pair), 0);
  EXPECT_EQ(send(work->pair[0], "h", 1, 0), 1);
  return g_unix_fd_add(
      work->pair[1], G_IO_IN,
      [](gint fd, GIOCondition, gpointer w) {
        char byte;
        if (recv(fd, &byte, 1, MSG_DONTWAIT) == 1) ++static_cast<HostWork*>(w)->ran;
        return gboolean{G_SOURCE_CONTINUE};
      },
      work);
}

// The wait reads the library's own socket itself only when nothing of the
// host's is ready or due; otherwise GLib dispatches it all, and the pass
// after the sleep runs what that left.  Either way each datagram is read
// once and the host's work runs within the wait.
TEST_F(PumpUntilTest, AWaitReadsItsOwnSocketItselfOnlyWhenNothingElseIsReady) {
  const struct {
    const char* name;
    guint (*attach)(HostWork*);  // null: no host work
    bool read_directly;
    int host_runs;
  } rows[] = {
      {"nothing of the host's", nullptr, true, 0},
      {"a host timer a minute away",
       [](HostWork* w) { return g_timeout_add_seconds(60, RunOnce, w); }, true, 0},
      {"a host idle handler", [](HostWork* w) { return g_idle_add(RunOnce, w); }, false, 1},
      {"a host timer due now", [](HostWork* w) { return g_timeout_add(0, RunOnce, w); }, false, 1},
      {"a host socket ready too", AttachReadyHostSocket, false, 1},
  };
  SetTickSource(nullptr);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    OwnSocket own;
    // A new watch wakes the context once, as any added descriptor does.
    Application().ProcessMessages();
    HostWork work;
    const guint host = row.attach ? row.attach(&work) : 0;
    ASSERT_EQ(send(own.pair[0], "r", 1, 0), 1);
    EXPECT_EQ(Application().WaitForMessage(1000), row.read_directly);
    EXPECT_EQ(own.direct_reads + own.watch_reads, 1);
    EXPECT_EQ(own.direct_reads, row.read_directly ? 1 : 0);
    // What the sleep left, idle work, runs in the pass after it.
    Application().DispatchReady();
    EXPECT_EQ(work.ran, row.host_runs);
    GSource* source = host != 0 ? g_main_context_find_source_by_id(nullptr, host) : nullptr;
    if (source != nullptr) g_source_destroy(source);
    if (work.pair[0] >= 0) {
      close(work.pair[0]);
      close(work.pair[1]);
    }
  }
}

// A read that closes another block's socket, whose number a new socket
// takes at once: the new one did not wake the poll and is not read in that
// wait, nor is the closed one.
TEST_F(PumpUntilTest, AWaitReadsNoOwnSocketOpenedDuringIt) {
  SetTickSource(nullptr);
  OwnSocket first, second;
  Application().ProcessMessages();
  struct Replacer {
    OwnSocket* victim;
    int new_socket_reads = 0;
  } replacer{&second};
  RemoveOwnDescriptor(first.pair[1]);
  AddOwnDescriptor(
      first.pair[1],
      [](void* self) {
        auto* r = static_cast<Replacer*>(self);
        RemoveOwnDescriptor(r->victim->pair[1]);
        AddOwnDescriptor(
            r->victim->pair[1], [](void* s) { ++static_cast<Replacer*>(s)->new_socket_reads; },
            self);
      },
      &replacer);
  ASSERT_EQ(send(first.pair[0], "r", 1, 0), 1);
  ASSERT_EQ(send(second.pair[0], "r", 1, 0), 1);
  EXPECT_TRUE(Application().WaitForMessage(1000));
  EXPECT_EQ(replacer.new_socket_reads, 0);
  EXPECT_EQ(second.direct_reads + second.watch_reads, 0);
}

}  // namespace
}  // namespace arduino
