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

// A buffer that fills goes at once: the 16U2's at 97 of its 128 bytes,
// more than the 96 its firmware calls nearly full, an FTDI's packet at 62.  The FTDI's timer then
// starts again.
TEST(UsbBridgeTest, AFullBufferGoesAtOnceAndFtdisTimerStartsAgain) {
  for (const auto& [bridge_name, full] : {std::pair{"16u2", 97}, std::pair{"ftdi", 62}}) {
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

// A chip behind the wall clock hands the model bytes whose frames ended
// before the packet it sent last: they go at once, never a period later.
TEST(UsbBridgeTest, AByteOlderThanTheLastPacketIsNotHeldAnotherPeriod) {
  const struct {
    const char* bridge;
    uint64_t late;  // when the late byte's frame ended
  } cases[] = {{"ftdi", 10 * kMs}, {"ftdi:1", 15 * kMs}, {"16u2", 10 * kMs}, {"ch340", 15 * kMs}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bridge) + " at " + std::to_string(c.late));
    UsbBridge bridge(*Parse(c.bridge), kHz);
    bridge.Take('O', 4 * kMs);
    // Every bridge has sent the first byte by 17 ms; FTDI's 16 ms timer last.
    EXPECT_EQ(bridge.Release(17 * kMs), "O");
    bridge.Take('K', c.late);
    EXPECT_EQ(bridge.Release(17 * kMs), "K");
    EXPECT_LE(bridge.tally().most_held_cycles, 17 * kMs - 4 * kMs);
  }
}

// The tally behind avrboard's last line: one packet per release, and the
// wait of each packet's last byte, which is when the reply is complete.
TEST(UsbBridgeTest, TheTallyCountsPacketsAndHowLongTheirLastByteWaited) {
  const struct {
    const char* bridge;
    uint64_t first, last;  // when the two bytes of a reply arrived
    uint64_t packets, held, most;
  } cases[] = {
      {"16u2", 1000, 2000, 1, 65536 - 2000, 65536 - 2000},
      // Across a tick the reply goes in two packets, the second a whole
      // tick after its byte.
      {"16u2", 65000, 66000, 2, 536 + (131072 - 66000), 131072 - 66000},
      {"ftdi", 1000, 3000, 1, 16 * kMs - 3000, 16 * kMs - 3000},
      {"ch340", 100, 200, 1, kMs - 200, kMs - 200},
      {"none", 100, 200, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bridge) + " from " + std::to_string(c.first));
    UsbBridge bridge(*Parse(c.bridge), kHz);
    bridge.Take('O', c.first);
    (void)bridge.Release(c.first);
    bridge.Take('K', c.last);
    for (uint64_t cycle = c.last; bridge.NextRelease(); cycle += 100) (void)bridge.Release(cycle);
    EXPECT_EQ(bridge.tally().packets, c.packets);
    EXPECT_EQ(bridge.tally().held_cycles, c.held);
    EXPECT_EQ(bridge.tally().most_held_cycles, c.most);
  }
}

TEST(UsbBridgeTest, TheReportSaysTheWaitIsTheModelsAndIsSilentWithoutABridge) {
  const BridgeTally tally{4, 8 * kMs, 3 * kMs};
  const std::string said = FormatBridgeReport(*Parse("ftdi:4"), tally, kHz);
  for (const char* part : {"FTDI bridge model", "not a measured chip", "sent 4 packets",
                           "2.000 ms on average", "at most 3.000 ms"}) {
    EXPECT_NE(said.find(part), std::string::npos) << part << " in: " << said;
  }
  EXPECT_EQ(FormatBridgeReport(*Parse("none"), tally, kHz), "");
}

// The bench reads the average back from everything avrboard said.
TEST(UsbBridgeTest, TheAverageWaitReadsBackFromAvrboardsOutput) {
  const BridgeTally tally{3, 7 * kMs, 4 * kMs};
  const std::string line = FormatBridgeReport(*Parse("16u2"), tally, kHz);
  const struct {
    std::string said;
    std::optional<double> ms;
  } cases[] = {
      {"avrboard: ready\n" + line + "\n", 7.0 / 3},
      {"avrboard: stopped; simulated 1.000 s\n", std::nullopt},
      {"each holding its last byte soon", std::nullopt},
      {"each holding its last byte 2.5 s", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    const std::optional<double> ms = HeldMsOnAverage(c.said);
    ASSERT_EQ(ms.has_value(), c.ms.has_value());
    if (ms) {
      EXPECT_NEAR(*ms, *c.ms, 0.001);
    }
  }
}

}  // namespace
}  // namespace avrboard
