// The command exchange over UDP against a loopback board.
#include "link/exchange.h"

#include <sys/resource.h>

#include <chrono>

#include <gtest/gtest.h>

#include "test_support.h"
#include "udp_board.h"

namespace arduino {
namespace {

using testing::HostBlock;
using testing::UdpBoard;
using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void PointAt(HostBlock& block, const UdpBoard& board) {
  block.data().Udp->SetRemoteHost("127.0.0.1");
  block.data().Udp->SetRemotePort(board.port());
}

TEST(UdpExchangeTest, ReplyWithinTheWaitIsTheReply) {
  UdpBoard board([](const std::string& command) { return command == "?04s?" ? "LOW" : "OK"; }, 20);
  HostBlock block;
  PointAt(block, board);
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?04s?"), "LOW");
  EXPECT_LT(MillisecondsSince(start), 100) << "a reply ends the wait at once";
  EXPECT_EQ(board.log(), std::vector<std::string>{"?04s?"});
}

TEST(UdpExchangeTest, LateReplyBecomesTheNextCommandsReply) {
  UdpBoard board([](const std::string& command) { return "reply to " + command; }, 150);
  HostBlock block;
  PointAt(block, board);
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?04s?"), "");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, 400);
  board.set_delay_ms(0);
  usleep(150 * 1000);  // the late reply is queued, not yet handled
  EXPECT_EQ(ExchangeCommand(block.data(), "?05s?"), "reply to ?04s?");
}

TEST(UdpExchangeTest, ReplyHandledBeforeTheWaitIsDiscarded) {
  UdpBoard board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  testing::LoopbackPeer stranger;
  stranger.SendTo(1600, "stale");
  ASSERT_TRUE(testing::PumpUntil([&] { return block.data().ReplyReceived; }));
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
}

TEST(UdpExchangeTest, RepliesAreTakenAsTheyCome) {
  UdpBoard board([](const std::string&) { return "LOW\r\n"; });
  HostBlock block;
  PointAt(block, board);
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "LOW\r\n");
}

TEST(UdpExchangeTest, SendErrorsLeaveTheExchange) {
  HostBlock block;
  block.data().Udp->SetRemoteHost("0.0.0.0");
  try {
    ExchangeCommand(block.data(), "?02s?");
    ADD_FAILURE() << "no error";
  } catch (const UDPSockError& e) {
    EXPECT_STREQ(e.what(), "Null Remote Address");
  }
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The waits sleep in the main context between pump passes; a silent board
// must not cost a core.
TEST(UdpExchangeTest, SilentBoardWaitBarelyUsesTheProcessor) {
  UdpBoard board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  double cpu_before = CpuSeconds();
  auto start = Clock::now();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
  long wall_ms = MillisecondsSince(start);
  double cpu_ms = (CpuSeconds() - cpu_before) * 1000;
  EXPECT_GE(wall_ms, 10 * 100);
  EXPECT_LT(cpu_ms, 0.10 * wall_ms) << cpu_ms << " ms of processor time in " << wall_ms << " ms";
}

TEST(UdpExchangeTest, BlockWithoutEndpointFailsClearly) {
  HostBlock block;
  block.data().Udp.reset();
  EXPECT_THROW(ExchangeCommand(block.data(), "?02s?"), Exception);
}

}  // namespace
}  // namespace arduino
