// The USB bridges' models: when a reply the firmware sent reaches the host.
#include "usb_bridge.h"

#include <gtest/gtest.h>

#include <string>

namespace avrboard {
namespace {

constexpr uint64_t kHz = 16'000'000;
constexpr uint64_t kMs = kHz / 1000;

std::optional<BridgeChoice> Parse(const std::string& text) {
  std::string error;
  return ParseBridge(text, &error);
}

TEST(UsbBridgeTest, TheOptionNamesABridgeAndFtdisTimer) {
  EXPECT_EQ(Parse("none")->kind, BridgeKind::kNone);
  EXPECT_EQ(Parse("16u2")->kind, BridgeKind::kAtmega16U2);
  EXPECT_EQ(Parse("ch340")->kind, BridgeKind::kCh340);
  EXPECT_EQ(Parse("ftdi")->latency_ms, 16);
  EXPECT_EQ(Parse("ftdi:1")->latency_ms, 1);
  EXPECT_EQ(Parse("ftdi:255")->latency_ms, 255);
  for (const char* bad : {"ftdi:0", "ftdi:256", "ftdi:", "ftdi:2ms", "cp2102", ""}) {
    SCOPED_TRACE(bad);
    std::string error;
    EXPECT_FALSE(ParseBridge(bad, &error));
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
  EXPECT_NE(DescribeBridge(*Parse("ftdi:4")).find("4 ms latency timer"), std::string::npos);
  EXPECT_NE(DescribeBridge(*Parse("16u2")).find("published behaviour, not a measurement"),
            std::string::npos);
}

// When a byte whose frame ended at `arrived` reaches the host.
TEST(UsbBridgeTest, EachBridgeHoldsAReplyUntilItsRuleSendsIt) {
  const struct {
    const char* bridge;
    uint64_t arrived, reaches_host;
  } cases[] = {
      {"none", 1000, 1000},
      {"16u2", 1000, 65536},  // the 4.096 ms tick
      {"16u2", 65536, 131072},
      {"ftdi", 1000, 16 * kMs},
      {"ftdi:1", 1000, kMs},
      {"ch340", 1000, kMs},
      {"ch340", 15 * kMs + 1, 16 * kMs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bridge) + " at " + std::to_string(c.arrived));
    UsbBridge bridge(*Parse(c.bridge), kHz);
    bridge.Take('O', c.arrived);
    bridge.Take('K', c.arrived);
    EXPECT_EQ(bridge.NextRelease(), c.reaches_host);
    if (c.reaches_host > c.arrived) {
      EXPECT_EQ(bridge.Release(c.reaches_host - 1), "");
    }
    EXPECT_EQ(bridge.Release(c.reaches_host), "OK");
    EXPECT_EQ(bridge.NextRelease(), std::nullopt);
  }
}

// A buffer that fills goes at once: the 16U2's at 127 of its 128 bytes,
// an FTDI's packet at 62.  The FTDI's timer then starts again.
TEST(UsbBridgeTest, AFullBufferGoesAtOnceAndFtdisTimerStartsAgain) {
  for (const auto& [bridge_name, full] : {std::pair{"16u2", 127}, std::pair{"ftdi", 62}}) {
    SCOPED_TRACE(bridge_name);
    UsbBridge bridge(*Parse(bridge_name), kHz);
    for (int i = 0; i < full - 1; ++i) bridge.Take('x', 100 + i);
    EXPECT_EQ(bridge.Release(100 + full), "") << "one short of full waits";
    bridge.Take('y', 5000);
    EXPECT_EQ(bridge.Release(5000), std::string(full - 1, 'x') + "y");
  }
  UsbBridge ftdi(*Parse("ftdi"), kHz);
  for (int i = 0; i < 62; ++i) ftdi.Take('x', 3 * kMs);
  EXPECT_EQ(ftdi.Release(3 * kMs).size(), 62u);
  ftdi.Take('z', 4 * kMs);
  EXPECT_EQ(ftdi.NextRelease(), 3 * kMs + 16 * kMs) << "16 ms after the packet that went";
}

}  // namespace
}  // namespace avrboard
