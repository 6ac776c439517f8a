#include "call_counter.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using bench::Call;

bench::CallCounts Counts(std::initializer_list<std::pair<Call, uint64_t>> kinds) {
  bench::CallCounts counts;
  for (auto [call, n] : kinds) counts.by_kind[static_cast<size_t>(call)] = n;
  return counts;
}

// The calls of a shared library, GLib's poll and the C library's own socket
// calls made from here, must reach the counter: a library that went around
// it would look cheaper than it is.
TEST(CallCounter, CountsTheCallsOfSharedLibrariesAndOfTheBench) {
  ASSERT_TRUE(bench::CountingWorks());
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  const bench::CallCounts before = bench::CountedCalls();
  GPollFD watch{pair[1], G_IO_IN, 0};
  EXPECT_EQ(g_poll(&watch, 1, 0), 0);
  EXPECT_EQ(send(pair[0], "x", 1, 0), 1);
  EXPECT_EQ(g_poll(&watch, 1, 0), 1);
  char byte = 0;
  EXPECT_EQ(read(pair[1], &byte, 1), 1);
  const bench::CallCounts made = bench::CountedCalls() - before;
  close(pair[0]);
  close(pair[1]);
  EXPECT_EQ(made.by_kind[static_cast<size_t>(Call::kPoll)], 2u);
  EXPECT_EQ(made.by_kind[static_cast<size_t>(Call::kSend)], 1u);
  EXPECT_EQ(made.by_kind[static_cast<size_t>(Call::kRead)], 1u);
  EXPECT_EQ(made.Total(), 4u);
}

struct PerExchangeCase {
  bench::CallCounts counts;
  uint64_t exchanges;
  const char* text;
};
class CallCountsPerExchange : public ::testing::TestWithParam<PerExchangeCase> {};

TEST_P(CallCountsPerExchange, NamesTheKindsThatOccurredInTheirOrder) {
  EXPECT_EQ(GetParam().counts.PerExchange(GetParam().exchanges), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CallCountsPerExchange,
    ::testing::Values(
        PerExchangeCase{Counts({{Call::kPoll, 30}, {Call::kSendTo, 10}, {Call::kRecvMmsg, 10}}), 10,
                        "sendto 1.00, recvmmsg 1.00, poll 3.00"},
        PerExchangeCase{Counts({{Call::kRead, 7}}), 4, "read 1.75"},
        PerExchangeCase{Counts({}), 10, "none"},
        // No exchanges: the counts themselves, not a division by zero.
        PerExchangeCase{Counts({{Call::kWrite, 5}}), 0, "write 5.00"}));

TEST(CallCounts, DifferencesAndSumsGoKindByKind) {
  bench::CallCounts sum = Counts({{Call::kPoll, 2}, {Call::kRead, 1}});
  sum += Counts({{Call::kPoll, 1}, {Call::kSend, 4}});
  EXPECT_EQ(sum.Total(), 8u);
  const bench::CallCounts difference = sum - Counts({{Call::kPoll, 3}});
  EXPECT_EQ(difference.by_kind[static_cast<size_t>(Call::kPoll)], 0u);
  EXPECT_EQ(difference.by_kind[static_cast<size_t>(Call::kSend)], 4u);
  EXPECT_EQ(difference.Total(), 5u);
}

}  // namespace
