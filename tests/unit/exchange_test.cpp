// The command exchange over UDP against a loopback board.
#include "link/exchange.h"

#include <arpa/inet.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "base/ticks.h"
#include "test_support.h"
#include "thrown_message.h"
#include "udp_peer.h"

namespace arduino {
namespace {

using harness::AnsweringPeer;
using testing::HostBlock;
using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void PointAt(HostBlock& block, const AnsweringPeer& board) {
  block.data().Udp->SetRemoteHost("127.0.0.1");
  block.data().Udp->SetRemotePort(board.port());
}

TEST(UdpExchangeTest, ReplyWithinTheWaitIsTheReply) {
  AnsweringPeer board([](const std::string& command) { return command == "?04s?" ? "LOW" : "OK"; },
                      20);
  HostBlock block;
  PointAt(block, board);
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?04s?"), "LOW");
  EXPECT_LT(MillisecondsSince(start), kUdpReplyWaitMs) << "a reply ends the wait at once";
  EXPECT_EQ(board.commands(), std::vector<std::string>{"?04s?"});
}

TEST(UdpExchangeTest, LateReplyBecomesTheNextCommandsReply) {
  AnsweringPeer board([](const std::string& command) { return "reply to " + command; }, 150);
  HostBlock block;
  PointAt(block, board);
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?04s?"), "");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, kUdpReplyWaitMs);
  EXPECT_LT(waited, 400);
  // The next reply comes well after the wait's first pass, which takes the
  // late one.  Had it come at once, that pass could handle both, and the
  // last of them would be the reply.
  board.set_delay_ms(50);
  usleep(150 * 1000);  // the late reply is queued, not yet handled
  EXPECT_EQ(ExchangeCommand(block.data(), "?05s?"), "reply to ?04s?");
}

TEST(UdpExchangeTest, ReplyHandledBeforeTheWaitIsDiscarded) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  harness::UdpPeer stranger;
  stranger.SendTo(1600, "stale");
  ASSERT_TRUE(testing::PumpUntil([&] { return block.data().ReplyReceived; }));
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
}

// Two datagrams that arrive together in the middle of the wait, both sent
// by host code that the wait's pump runs: the wake-up that follows reads
// both, so the reply is the last, and nothing is left over for the next
// command.
TEST(UdpExchangeTest, TwoDatagramsInOneWaitLeaveTheLastAsReply) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  harness::UdpPeer stranger;
  g_timeout_add(
      10,
      [](gpointer peer) -> gboolean {
        for (const char* text : {"A", "B"})
          static_cast<harness::UdpPeer*>(peer)->SendTo(1600, text);
        return G_SOURCE_REMOVE;
      },
      &stranger);
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "B");
  EXPECT_EQ(ExchangeCommand(block.data(), "?03s?"), "");
}

// Datagrams whose notifications are still queued when the wait begins are
// all handled by its first pump pass: the reply is the last of them, and
// none is left to be taken as the next command's reply.  A host idle
// handler that always wants to run must not cut that pass short.
TEST(UdpExchangeTest, EveryQueuedDatagramIsHandledAndTheLastIsTheReply) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  harness::UdpPeer stranger;
  for (bool host_idle_work : {false, true}) {
    SCOPED_TRACE(host_idle_work ? "with an endless idle handler" : "without idle work");
    guint idle = 0;
    if (host_idle_work) {
      idle = g_idle_add([](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    }
    for (const char* text : {"first", "second", "third"}) stranger.SendTo(1600, text);
    usleep(20 * 1000);  // loopback delivers at once; this is only a margin
    EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "third");
    EXPECT_EQ(ExchangeCommand(block.data(), "?03s?"), "");
    if (idle != 0) g_source_remove(idle);
  }
}

// More datagrams than one read of the socket takes at a time: the pass
// reads on until none is left, in arrival order.
TEST(UdpExchangeTest, MoreQueuedDatagramsThanOneReadTakesAreAllHandledInOrder) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  harness::UdpPeer stranger;
  for (int count : {8, 9, 20}) {
    SCOPED_TRACE(count);
    for (int i = 1; i <= count; ++i) stranger.SendTo(1600, "datagram " + std::to_string(i));
    usleep(20 * 1000);  // loopback delivers at once; this is only a margin
    EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "datagram " + std::to_string(count));
    EXPECT_EQ(ExchangeCommand(block.data(), "?03s?"), "");
  }
}

// Starts the clock 40 ms before the 32-bit wrap and lets it run at real
// speed, so a silent board's wait crosses zero.
uint32_t g_wrap_base;
Clock::time_point g_wrap_origin;
uint32_t WrappingTicks() {
  return g_wrap_base + static_cast<uint32_t>(MillisecondsSince(g_wrap_origin));
}

TEST(UdpExchangeTest, TickWrapDuringAWaitKeepsItsLength) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  g_wrap_base = 0xFFFFFFFFu - 40;
  g_wrap_origin = Clock::now();
  SetTickSource(WrappingTicks);
  auto start = Clock::now();
  std::string reply = ExchangeCommand(block.data(), "?02s?");
  long waited = MillisecondsSince(start);
  SetTickSource(nullptr);
  EXPECT_EQ(reply, "");
  EXPECT_GE(waited, kUdpReplyWaitMs);
  EXPECT_LT(waited, 1000);
}

// A host idle handler that always wants to run gets one turn per pump pass
// and cannot stretch a wait beyond its limit.
TEST(UdpExchangeTest, EndlessIdleHandlerDoesNotStretchTheWait) {
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  int turns = 0;
  guint idle = g_idle_add(
      [](gpointer count) -> gboolean {
        ++*static_cast<int*>(count);
        return G_SOURCE_CONTINUE;
      },
      &turns);
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
  long waited = MillisecondsSince(start);
  g_source_remove(idle);
  EXPECT_GE(waited, kUdpReplyWaitMs);
  EXPECT_LT(waited, 1000);
  EXPECT_GT(turns, 0) << "the host's idle work still runs during the wait";
}

// Whether /etc/hosts gives `name` a loopback address.  Only then does the
// look-up of this machine's name stay on the machine (the hosts file answers
// before any name server), and the datagram go to loopback.
bool HostsFileGivesLoopback(const std::string& name) {
  std::ifstream hosts("/etc/hosts");
  for (std::string line; std::getline(hosts, line);) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string address, alias;
    fields >> address;
    while (fields >> alias) {
      if (alias == name) return address.rfind("127.", 0) == 0;
    }
  }
  return false;
}

// An empty address names this machine, as the Windows resolver takes it,
// rather than failing the look-up.
TEST(UdpExchangeTest, EmptyAddressSendsToThisMachine) {
  if (!HostsFileGivesLoopback(g_get_host_name())) {
    GTEST_SKIP() << "/etc/hosts gives this machine's name " << g_get_host_name()
                 << " no loopback address, so its look-up could leave the machine";
  }
  // The name may stand for any loopback address, not only 127.0.0.1.
  harness::UdpPeer board(harness::kAnyAddress);
  HostBlock block;
  block.data().Udp->SetRemoteHost("");
  block.data().Udp->SetRemotePort(board.port());
  SendCommand(block.data(), "?02s?");
  std::optional<harness::Datagram> received = board.ReceiveFrom();
  ASSERT_TRUE(received) << "nothing reached this machine";
  EXPECT_EQ(received->bytes, "?02s?");
}

TEST(UdpExchangeTest, RepliesAreTakenAsTheyCome) {
  AnsweringPeer board([](const std::string&) { return "LOW\r\n"; });
  HostBlock block;
  PointAt(block, board);
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "LOW\r\n");
}

TEST(UdpExchangeTest, SendErrorsLeaveTheExchange) {
  HostBlock block;
  block.data().Udp->SetRemoteHost("0.0.0.0");
  EXPECT_EQ(testing::ThrownMessage<UDPSockError>([&] { ExchangeCommand(block.data(), "?02s?"); }),
            "Null Remote Address");
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
  AnsweringPeer board([](const std::string&) { return std::optional<std::string>(); });
  HostBlock block;
  PointAt(block, board);
  double cpu_before = CpuSeconds();
  auto start = Clock::now();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
  long wall_ms = MillisecondsSince(start);
  double cpu_ms = (CpuSeconds() - cpu_before) * 1000;
  EXPECT_GE(wall_ms, 10 * kUdpReplyWaitMs);
  EXPECT_LT(cpu_ms, 0.10 * wall_ms) << cpu_ms << " ms of processor time in " << wall_ms << " ms";
}

TEST(UdpExchangeTest, BlockWithoutEndpointFailsClearly) {
  HostBlock block;
  block.data().Udp.reset();
  EXPECT_THROW(ExchangeCommand(block.data(), "?02s?"), Exception);
}

}  // namespace
}  // namespace arduino
