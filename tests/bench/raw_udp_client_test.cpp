// The bench's raw UDP client against a board of the test's own: it reads
// every datagram that waits, stale ones included, gives up at its limit
// when nothing comes, and sends from the port it is bound to.
#include "raw_udp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "udp_peer.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Each row: the datagrams already waiting when the exchange starts, late
// replies of earlier commands, from a board that does not answer this one.
// The wait ends at once and all of them are read, past one batch too.
TEST(RawUdpClientTest, ReadsEveryDatagramThatWaits) {
  for (int waiting : {1, 7, 8, 9, 20}) {
    SCOPED_TRACE(std::to_string(waiting) + " waiting");
    harness::UdpPeer board;
    bench::RawUdpClient client(board.port());
    for (int i = 0; i < waiting; ++i) board.SendTo(client.port(), "LATE" + std::to_string(i));
    const auto start = Clock::now();
    EXPECT_EQ(client.Exchange("?02s?", milliseconds(5000)), waiting);
    EXPECT_LT(Clock::now() - start, milliseconds(2500)) << "waited as if nothing was there";
    EXPECT_EQ(client.Exchange("?02s?", milliseconds(10)), 0) << "something was left unread";
  }
}

TEST(RawUdpClientTest, TheReplyOfAnAnsweringBoardIsRead) {
  harness::AnsweringPeer board([](const std::string&) { return std::string("HIGH"); });
  bench::RawUdpClient client(board.port());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(client.Exchange("?02s?", milliseconds(2000)), 1);
  EXPECT_EQ(board.commands(), std::vector<std::string>(3, "?02s?"));
}

TEST(RawUdpClientTest, ASilentBoardEndsTheWaitAtTheLimitWithNothingRead) {
  harness::UdpPeer silent;
  bench::RawUdpClient client(silent.port());
  const auto start = Clock::now();
  EXPECT_EQ(client.Exchange("?02s?", milliseconds(50)), 0);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(50));
  // The command went, from the client's own port.
  const std::optional<harness::Datagram> got = silent.ReceiveFrom(milliseconds(1000));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->bytes, "?02s?");
  EXPECT_EQ(got->from_port, client.port());
}

}  // namespace
