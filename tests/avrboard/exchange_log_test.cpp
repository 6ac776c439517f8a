// The exchange log: how commands pair with replies on each link, and how
// the lines read.
#include "exchange_log.h"

#include <gtest/gtest.h>

#include <sstream>

namespace avrboard {
namespace {

// The log writes hex digits in upper case; wire_bench and the tests read
// its lines back.
TEST(ExchangeLogTest, UnprintableBytesAndBackslashAreEscaped) {
  EXPECT_EQ(FormatExchange("udp", 0, "?14s?", "ERR bad pin"), "udp 0.000 ?14s? -> ERR bad pin");
  EXPECT_EQ(FormatExchange("udp", 0, std::string("a\\b\r\n\x00\xFF", 7), ""),
            "udp 0.000 a\\\\b\\x0D\\x0A\\x00\\xFF -> ");
}

TEST(ExchangeLogTest, LineGivesMicrosecondsToTheNanosecond) {
  EXPECT_EQ(FormatExchange("udp", 612'345, "?14s?", "512"), "udp 612.345 ?14s? -> 512");
  EXPECT_EQ(FormatExchange("serial", 7, "!03mo", "OK"), "serial 0.007 !03mo -> OK");
}

TEST(ExchangeLogTest, UdpRepliesPairWithTheOldestUnansweredDatagram) {
  std::ostringstream out;
  ExchangeRecorder recorder(&out);
  recorder.UdpSent("unasked", 10);
  recorder.UdpLanded("?14s?", 1'000);
  recorder.UdpLanded("!03mo", 2'000);
  recorder.UdpSent("512", 501'000);
  recorder.UdpSent("OK", 802'000);
  EXPECT_EQ(out.str(), "udp 500.000 ?14s? -> 512\nudp 800.000 !03mo -> OK\n");
}

TEST(ExchangeLogTest, EmptyDatagramAwaitsNoReply) {
  std::ostringstream out;
  ExchangeRecorder recorder(&out);
  recorder.UdpLanded("", 1'000);
  recorder.UdpLanded("?07s?", 2'000);
  recorder.UdpSent("HIGH", 3'000);
  EXPECT_EQ(out.str(), "udp 1.000 ?07s? -> HIGH\n");
}

TEST(ExchangeLogTest, SerialReplyTimesFromTheCommandsLastByte) {
  std::ostringstream out;
  ExchangeRecorder recorder(&out);
  uint64_t ns = 0;
  for (char c : std::string("?14s?")) recorder.SerialReceived(c, ns += 1'041'667);
  const uint64_t last = ns;
  for (char c : std::string("512\r\n")) recorder.SerialSent(c, ns += 1'041'667);
  EXPECT_EQ(out.str(), FormatExchange("serial", 1'041'667, "?14s?", "512") + "\n");
  EXPECT_GT(ns, last);
}

TEST(ExchangeLogTest, SerialCommandIsTheLastFiveBytesAndOutputWithoutOneIsNoExchange) {
  std::ostringstream out;
  ExchangeRecorder recorder(&out);
  for (char c : std::string("hello\r\n")) recorder.SerialSent(c, 5);
  EXPECT_EQ(out.str(), "") << "console output was taken for a reply";
  for (char c : std::string("xx!03mo")) recorder.SerialReceived(c, 100);
  for (char c : std::string("OK\r\n")) recorder.SerialSent(c, 300);
  for (char c : std::string("?07s?")) recorder.SerialReceived(c, 1'000);
  for (char c : std::string("HIGH\r\n")) recorder.SerialSent(c, 3'500);
  EXPECT_EQ(out.str(), "serial 0.200 !03mo -> OK\nserial 2.500 ?07s? -> HIGH\n");
}

// What the log writes reads back as the same bytes, whatever they are.
class ExchangeRoundTripTest : public testing::TestWithParam<Exchange> {};

TEST_P(ExchangeRoundTripTest, ParseReadsWhatFormatWrote) {
  const Exchange& written = GetParam();
  const std::string line =
      FormatExchange(written.link, written.turnaround_ns, written.command, written.reply);
  EXPECT_EQ(ParseExchange(line), std::optional<Exchange>(written)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ExchangeRoundTripTest,
    testing::Values(Exchange{"udp", 612'345, "?14s?", "512"}, Exchange{"serial", 7, "!03mo", "OK"},
                    Exchange{"serial", 0, "", ""},
                    Exchange{"udp", 1'000'000'001, std::string("a\\b\x00\xFF", 5), "\r\n"},
                    // An escape's text as plain bytes must not read as the byte.
                    Exchange{"serial", 12, "\\x41", "x\\\\"},
                    Exchange{"serial", 5, "?07s?", "HIGH -> LOW"}));

TEST(ExchangeLogTest, LinesThatAreNoExchangeAreRefused) {
  for (const char* line :
       {"", "udp", "udp 1.000", "udp 1.000 ?14s?", "tcp 1.000 ?14s? -> 512",
        "udp 1.00 ?14s? -> 512", "udp .000 ?14s? -> 512", "udp 1.0000 ?14s? -> 512",
        "udp x.000 ?14s? -> 512", R"(udp 1.000 ?14s\? -> 512)", R"(udp 1.000 ?14s? -> 51\x2)",
        R"(udp 1.000 ?14s? -> \xG0)", R"(udp 1.000 ?14s? -> 512\)"}) {
    EXPECT_EQ(ParseExchange(line), std::nullopt) << line;
  }
}

TEST(ExchangeLogTest, ReadSkipsHalfALineAndKeepsTheOrder) {
  std::istringstream log("serial 1.000 ?14s? -> 512\nserial 2.500 !03mo -> OK\nserial 3.");
  const std::vector<Exchange> read = ReadExchanges(log);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], (Exchange{"serial", 1'000, "?14s?", "512"}));
  EXPECT_EQ(read[1].command, "!03mo");
  EXPECT_DOUBLE_EQ(read[1].turnaround_us(), 2.5);
}

}  // namespace
}  // namespace avrboard
