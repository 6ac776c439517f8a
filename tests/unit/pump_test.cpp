// The library's one wait, TApplication::PumpUntil: a pass before every look
// at the condition, and the limit kept on a clock that may wrap.
#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "base/application.h"
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

}  // namespace
}  // namespace arduino
