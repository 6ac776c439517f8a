// A UART frame's length from the registers, and sent bytes held until their
// frames have left the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "held_output.h"
#include "uart_frame.h"

namespace avrboard {
namespace {

// UCSRnC as the Arduino core's Serial.begin leaves it: 8 data bits, no
// parity, one stop bit (UCSZn1:0 = 3).
constexpr uint8_t k8N1 = 0x06;
constexpr uint8_t kEvenParity = 0x20, kOddParity = 0x30, kTwoStops = 0x08;
constexpr uint8_t kUcsz2 = 0x04;  // in UCSRnB

TEST(UartTimingTest, FrameBitsFollowSizeParityAndStopBits) {
  EXPECT_EQ(UartFrameBits(0, k8N1), 10);
  EXPECT_EQ(UartFrameBits(0, k8N1 | kEvenParity), 11);
  EXPECT_EQ(UartFrameBits(0, k8N1 | kOddParity), 11);
  EXPECT_EQ(UartFrameBits(0, k8N1 | kTwoStops), 11);
  EXPECT_EQ(UartFrameBits(0, k8N1 | kEvenParity | kTwoStops), 12);
  EXPECT_EQ(UartFrameBits(0, 0x00), 7);        // 5 data bits
  EXPECT_EQ(UartFrameBits(0, 0x02), 8);        // 6
  EXPECT_EQ(UartFrameBits(0, 0x04), 9);        // 7
  EXPECT_EQ(UartFrameBits(kUcsz2, k8N1), 11);  // 9 data bits
  EXPECT_EQ(UartFrameBits(kUcsz2, 0x00), 10);  // reserved: 8
  // Other bits of UCSRnB (the enables, the interrupts) change nothing.
  EXPECT_EQ(UartFrameBits(0xF8, k8N1), 10);
}

TEST(UartTimingTest, FrameCyclesAtTheArduinoCoresSpeeds) {
  // The core runs U2X with UBRR = (F_CPU / 4 / baud - 1) / 2 at 16 MHz.
  struct Speed {
    uint16_t ubrr;
    uint64_t cycles;  // ten bits of (UBRR + 1) * 8 cycles
  };
  for (const Speed& speed :
       {Speed{207, 16640}, Speed{103, 8320}, Speed{51, 4160}, Speed{16, 1360}}) {
    EXPECT_EQ(UartFrameCycles(speed.ubrr, true, 0, k8N1), speed.cycles) << speed.ubrr;
  }
  // Without U2X a bit takes twice as long.
  EXPECT_EQ(UartFrameCycles(103, false, 0, k8N1), 16640u);
  // 9600 baud 8E1: eleven bits.
  EXPECT_EQ(UartFrameCycles(207, true, 0, k8N1 | kEvenParity), 18304u);
}

TEST(UartTimingTest, AByteLeavesWhenItsFrameIsOver) {
  HeldOutput held;
  EXPECT_TRUE(held.empty());
  EXPECT_FALSE(held.NextDone().has_value());
  held.Add("OK", {1000, 2360}, 1360);
  ASSERT_TRUE(held.NextDone().has_value());
  EXPECT_EQ(*held.NextDone(), 2360u);
  std::vector<uint64_t> cycles{99};
  // Written to the transmitter is not yet on the other end.
  EXPECT_EQ(held.TakeDone(2359, &cycles), "");
  EXPECT_TRUE(cycles.empty());
  EXPECT_EQ(held.TakeDone(2360, &cycles), "O");
  EXPECT_EQ(cycles, (std::vector<uint64_t>{1000}));
  EXPECT_EQ(*held.NextDone(), 3720u);
  held.Add("\r\n", {3720, 5080}, 1360);
  EXPECT_EQ(held.TakeDone(5079, &cycles), "K");
  EXPECT_EQ(cycles, (std::vector<uint64_t>{2360}));
  EXPECT_EQ(held.TakeDone(5080, &cycles), "\r");
  EXPECT_EQ(cycles, (std::vector<uint64_t>{3720}));
  EXPECT_EQ(held.TakeDone(1000000, &cycles), "\n");
  EXPECT_EQ(cycles, (std::vector<uint64_t>{5080}));
  EXPECT_TRUE(held.empty());
  EXPECT_EQ(held.TakeDone(2000000, &cycles), "");
}

TEST(UartTimingTest, HeldBytesKeepTheirOrderAndCanBeDropped) {
  HeldOutput held;
  const std::string bytes("\x00\xFF\x80z", 4);
  held.Add(bytes, {10, 20, 30, 40}, 100);
  std::vector<uint64_t> cycles;
  EXPECT_EQ(held.TakeDone(140, &cycles), bytes);
  EXPECT_EQ(cycles, (std::vector<uint64_t>{10, 20, 30, 40}));
  // What a reset leaves unsent never reaches the terminal.
  held.Add("ERR", {500, 600, 700}, 100);
  held.Clear();
  EXPECT_TRUE(held.empty());
  EXPECT_FALSE(held.NextDone().has_value());
  EXPECT_EQ(held.TakeDone(10000, &cycles), "");
  EXPECT_TRUE(cycles.empty());
}

}  // namespace
}  // namespace avrboard
