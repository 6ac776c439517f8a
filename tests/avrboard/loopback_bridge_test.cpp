// The W5100's wire: a real UDP socket on loopback, and the rule that what
// the firmware sends goes to 127.0.0.1 whatever address it names.
#include "loopback_bridge.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "udp_peer.h"

namespace avrboard {
namespace {

TEST(LoopbackBridgeTest, DestinationIsLoopbackForEveryPort) {
  for (uint16_t port : {0, 1, 1600, 40000, 65535}) {
    const sockaddr_in to = LoopbackDestination(port);
    EXPECT_EQ(to.sin_family, AF_INET);
    EXPECT_EQ(ntohl(to.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohs(to.sin_port), port);
  }
}

TEST(LoopbackBridgeTest, EndpointMustBeLoopbackWithAPort) {
  EXPECT_EQ(ParseLoopbackEndpoint("127.0.0.1:0"), 0);
  EXPECT_EQ(ParseLoopbackEndpoint("127.0.0.1:1600"), 1600);
  EXPECT_EQ(ParseLoopbackEndpoint("127.0.0.1:65535"), 65535);
  for (const char* refused : {"192.168.0.121:1600", "0.0.0.0:1600", "127.0.0.2:1600",
                              "localhost:1600", "127.0.0.1", "127.0.0.1:", "127.0.0.1:65536",
                              "127.0.0.1:-1", "127.0.0.1:16x", " 127.0.0.1:1600", ":1600"}) {
    EXPECT_FALSE(ParseLoopbackEndpoint(refused).has_value()) << refused;
  }
}

TEST(LoopbackBridgeTest, DatagramToAnyAddressReachesTheLoopbackPeer) {
  std::string error;
  std::optional<LoopbackBridge> bridge = LoopbackBridge::Open(0, &error);
  ASSERT_TRUE(bridge) << error;
  harness::UdpPeer peer;
  SentDatagram sent;
  sent.destination_address = {192, 168, 0, 5};
  sent.destination_port = peer.port();
  sent.payload = "512";
  ASSERT_TRUE(bridge->Forward(sent));
  std::optional<harness::Datagram> got = peer.ReceiveFrom();
  ASSERT_TRUE(got) << "nothing arrived on 127.0.0.1";
  EXPECT_EQ(got->bytes, "512");
  EXPECT_EQ(got->from_port, bridge->port());
}

TEST(LoopbackBridgeTest, PeerDatagramCarriesItsSender) {
  std::string error;
  std::optional<LoopbackBridge> bridge = LoopbackBridge::Open(0, &error);
  ASSERT_TRUE(bridge) << error;
  EXPECT_FALSE(bridge->Receive()) << "something waited before anything was sent";
  harness::UdpPeer peer;
  peer.SendTo(bridge->port(), "?14s?");
  std::optional<PeerDatagram> got;
  for (int i = 0; i < 100 && !got; ++i) {
    got = bridge->Receive();
    if (!got) usleep(10'000);
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(got->payload, "?14s?");
  EXPECT_EQ(got->source, (Ipv4{127, 0, 0, 1}));
  EXPECT_EQ(got->source_port, peer.port());
}

TEST(LoopbackBridgeTest, TakenPortIsAnError) {
  std::string error;
  std::optional<LoopbackBridge> first = LoopbackBridge::Open(0, &error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(LoopbackBridge::Open(first->port(), &error));
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(first->port())), std::string::npos) << error;
}

}  // namespace
}  // namespace avrboard
