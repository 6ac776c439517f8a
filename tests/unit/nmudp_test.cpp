// The UDP endpoint and the block's receive handler, on real loopback sockets.
#include "link/NMUDP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "base/ticks.h"
#include "link/exchange.h"
#include "test_support.h"
#include "thrown_message.h"
#include "udp_peer.h"

namespace arduino {
namespace {

using harness::UdpPeer;
using testing::HostBlock;
using testing::PumpUntil;

constexpr uint16_t kPort = 1600;

std::string ReceivedBy(HostBlock& block, const std::string& datagram) {
  UdpPeer peer;
  block.data().ReplyReceived = false;
  block.data().ReplyText = "stale";
  peer.SendTo(kPort, datagram);
  EXPECT_TRUE(PumpUntil([&] { return block.data().ReplyReceived; })) << "no delivery";
  return block.data().ReplyText;
}

TEST(UdpEndpointTest, HandlerTakesTheDatagramTextUpToThreeHundredBytes) {
  HostBlock block;
  EXPECT_EQ(ReceivedBy(block, "LOW"), "LOW");
  EXPECT_EQ(ReceivedBy(block, std::string("512\0more", 8)), "512");
  EXPECT_EQ(ReceivedBy(block, std::string(400, 'q')), std::string(kUdpReplyBufferSize - 1, 'q'));
  EXPECT_EQ(ReceivedBy(block, ""), "");
  EXPECT_EQ(ReceivedBy(block, "LOW\r\n"), "LOW\r\n");
}

TEST(UdpEndpointTest, OversizedDatagramGivesEmptyReplyAndStillCounts) {
  HostBlock block;
  EXPECT_EQ(ReceivedBy(block, std::string(3000, 'z')), "");
  int32_t length = 0;
  char buffer[16] = {};
  block.data().Udp->ReadDatagram(buffer, sizeof buffer, length);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(buffer[0], 0) << "nothing is copied after a failed read";
  // The endpoint goes on working after it.
  EXPECT_EQ(ReceivedBy(block, std::string(2048, 'k')), std::string(kUdpReplyBufferSize - 1, 'k'));
}

TEST(UdpEndpointTest, DeliveryHappensOnlyInsideAPumpPassInArrivalOrder) {
  HostBlock block;
  std::vector<std::string> seen;
  TNMUDP* udp = block.data().Udp.get();
  udp->SetOnDataReceived([&](TNMUDP* sender, int32_t bytes, const std::string& from_ip, int32_t) {
    char buffer[64] = {};
    int32_t length;
    sender->ReadDatagram(buffer, 63, length);
    EXPECT_EQ(bytes, length);
    seen.push_back(std::string(buffer) + " from " + from_ip);
  });
  // Two senders taking turns: each datagram names its own.
  UdpPeer peer;
  UdpPeer other(harness::kLoopback + 1);  // 127.0.0.2
  peer.SendTo(kPort, "one");
  other.SendTo(kPort, "two");
  peer.SendTo(kPort, "three");
  testing::SleepMs(50);
  EXPECT_TRUE(seen.empty()) << "handler ran outside a pump pass";
  PumpUntil([&] { return seen.size() == 3; });
#ifdef _WIN32
  // Under Wine a datagram from a socket bound to 127.0.0.2 arrives from
  // 127.0.0.1; the second sender is told apart on Linux only.
  const std::string other_ip = "127.0.0.1";
#else
  const std::string other_ip = "127.0.0.2";
#endif
  EXPECT_EQ(seen, (std::vector<std::string>{"one from 127.0.0.1", "two from " + other_ip,
                                            "three from 127.0.0.1"}));
}

// A clock read first at the reply wait's start and then only after the
// thread has stalled well past the wait's limit, as on a loaded machine.
uint32_t g_clock_reads = 0;
uint32_t StallsAfterTheFirstRead() {
  return g_clock_reads++ == 0 ? 5000 : 5000 + 10 * kUdpReplyWaitMs;
}

// A wait that begins past its limit still runs one pass, and that pass must
// read the reply already waiting: left there, it would be taken as the next
// command's reply.
TEST(UdpEndpointTest, ReplyWaitBegunPastItsLimitStillReadsTheWaitingReply) {
  HostBlock block;
  UdpPeer board;
  board.SendTo(kPort, "HIGH");
  testing::WaitForSocketReport();
  g_clock_reads = 0;
  SetTickSource(&StallsAfterTheFirstRead);
  const std::string reply = ReceiveReply(block.data());
  SetTickSource(nullptr);
  EXPECT_EQ(reply, "HIGH");
  EXPECT_GT(g_clock_reads, 1u) << "the wait never looked at the clock after its start";
}

TEST(UdpEndpointTest, FirstBlockKeepsPortSixteenHundred) {
  HostBlock first;
  first.data().InterfaceKind = kInterfaceUsb;  // a USB block holds the port all the same
  HostBlock second;
  EXPECT_EQ(first.data().Udp->BoundPort(), kPort);
  EXPECT_EQ(second.data().Udp->BoundPort(), 0) << "the second block stays unbound";

  EXPECT_EQ(ReceivedBy(first, "for port 1600"), "for port 1600");
  EXPECT_FALSE(second.data().ReplyReceived);

  // The second block gets a port of the system's choosing at its first send,
  // and a UdpPort beyond 16 bits sends to its low 16 bits.
  second.data().Udp->SetRemoteHost("127.0.0.1");
  second.data().Udp->SetRemotePort(65536 + kPort);
  second.data().Udp->SendDatagram("?02s?", 5);
  EXPECT_TRUE(PumpUntil([&] { return first.data().ReplyReceived; }));
  EXPECT_EQ(first.data().ReplyText, "?02s?");
  EXPECT_NE(second.data().Udp->BoundPort(), 0);
}

TEST(UdpEndpointTest, DisposeFreesThePortForTheNextBlock) {
  { HostBlock first; }
  HostBlock next;
  EXPECT_EQ(next.data().Udp->BoundPort(), kPort);
  EXPECT_EQ(ReceivedBy(next, "hello"), "hello");
}

TEST(UdpEndpointTest, SendGoesOutAsExactlyTheCommandBytes) {
  HostBlock block;
  UdpPeer board;
  TNMUDP& udp = *block.data().Udp;
  udp.SetRemoteHost("127.0.0.1");
  udp.SetRemotePort(board.port());
  char buffer[101] = "?02s?";
  udp.SendDatagram(buffer, 5);
  auto datagram = board.ReceiveFrom();
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "?02s?");
  EXPECT_EQ(datagram->from_port, kPort);

  udp.SetRemoteHost("localhost");
  udp.SendDatagram(buffer, 3);
  datagram = board.ReceiveFrom();
  ASSERT_TRUE(datagram) << "a host name is looked up";
  EXPECT_EQ(datagram->bytes, "?02");
}

// The address is taken from the text as it is at each send: a literal that
// changes, or gives way to a name and comes back, sends to where it now
// says, never to where an earlier send went.
TEST(UdpEndpointTest, EachSendGoesWhereTheRemoteHostNowSays) {
  HostBlock block;
  // Each on a port of its own: Windows will not bind 127.0.0.2 to a port
  // that 127.0.0.1 holds.  A send that kept an earlier address would reach
  // the right port on the wrong address, where nothing listens.
  UdpPeer first(harness::kLoopback);
  UdpPeer second(harness::kLoopback + 1);  // 127.0.0.2
  TNMUDP& udp = *block.data().Udp;
  const struct {
    const char* host;
    const UdpPeer* to;
    const UdpPeer* not_to;
  } sends[] = {
      {"127.0.0.1", &first, &second}, {"127.0.0.1", &first, &second},
      {"127.0.0.2", &second, &first}, {"localhost", &first, &second},
      {"127.0.0.2", &second, &first}, {"127.0.0.1", &first, &second},
  };
  for (const auto& send : sends) {
    udp.SetRemoteHost(send.host);
    udp.SetRemotePort(send.to->port());
    udp.SendDatagram(send.host, static_cast<int32_t>(std::strlen(send.host)));
    EXPECT_EQ(send.to->Receive(), std::optional<std::string>(send.host)) << send.host;
    EXPECT_FALSE(send.not_to->Receive(std::chrono::milliseconds(20))) << send.host;
  }
}

TEST(UdpEndpointTest, SendErrorsSendNothing) {
  HostBlock holder;  // keeps port 1600, so `block` stays unbound until it sends
  HostBlock block;
  TNMUDP& udp = *block.data().Udp;
  udp.SetRemotePort(1600);
  auto expect_error = [&](const std::string& host, int32_t length, const std::string& message) {
    udp.SetRemoteHost(host);
    EXPECT_EQ(testing::ThrownMessage<Exception>([&] { udp.SendDatagram("?02s?", length); }),
              message)
        << "for '" << host << "'";
    // An unbound socket gets a port only when something is sent.
    EXPECT_EQ(udp.BoundPort(), 0) << "a datagram left for '" << host << "'";
  };
  expect_error("0.0.0.0", 5, "Null Remote Address");
  expect_error("127.0.0.1", 0, "Invalid buffer");
  udp.SetRemoteHost("0.0.0.0");
  EXPECT_THROW(udp.SendDatagram("x", 1), UDPSockError);
}

// The look-up of a name that does not exist fails, and nothing is sent.  It
// runs only where nothing but loopback is there, so that the look-up fails
// at once without asking anyone, whatever the system's resolver would say.
TEST(UdpEndpointTest, UnresolvableNameSendsNothing) {
  if (auto beyond = testing::NetworkBeyondLoopback()) {
    GTEST_SKIP() << "looking up a name could leave this machine through " << *beyond
                 << "; ./run test runs this in a network namespace with only loopback";
  }
  HostBlock holder;  // keeps port 1600, so `block` stays unbound until it sends
  HostBlock block;
  TNMUDP& udp = *block.data().Udp;
  udp.SetRemotePort(1600);
  udp.SetRemoteHost("no-such-board.invalid");
  EXPECT_EQ(testing::ThrownMessage<Exception>([&] { udp.SendDatagram("?02s?", 5); }),
            "Host Lookup Canceled");
  EXPECT_EQ(udp.BoundPort(), 0) << "a datagram left for an unresolvable name";
}

}  // namespace
}  // namespace arduino
