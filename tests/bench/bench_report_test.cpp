#include "bench_report.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(BenchCompare, AddedTimeIsTheMedianOfThePairsNotOfTheMedians) {
  bench::Alternation samples;
  samples.raw_wall = {10, 20, 30};
  samples.library_wall = {13, 24, 31};  // differences 3, 4, 1
  bench::Added added = bench::Compare(samples);
  EXPECT_DOUBLE_EQ(added.added_wall.median, 3);
  EXPECT_DOUBLE_EQ(added.raw_wall.median, 20);
  EXPECT_DOUBLE_EQ(added.library_wall.median, 24);
  EXPECT_DOUBLE_EQ(added.ratio, 1.2);
  EXPECT_FALSE(added.has_cpu);
}

TEST(BenchCompare, SharesAreOfEachPairsOwnRawExchange) {
  bench::Alternation samples;
  samples.raw_wall = {10, 100, 0, 40};
  samples.library_wall = {11, 130, 5, 42};  // 10 %, 30 %, no share, 5 %
  samples.raw_cpu = {4, 8, 2, 1};
  samples.library_cpu = {5, 8, 3, 1};  // 25 %, 0 %, 50 %, 0 %
  bench::Added added = bench::Compare(samples);
  EXPECT_DOUBLE_EQ(added.added_wall_percent.median, 10);
  EXPECT_DOUBLE_EQ(added.added_wall_percent.p99, 30);
  EXPECT_DOUBLE_EQ(added.added_cpu_percent.median, 25);
  EXPECT_DOUBLE_EQ(added.added_cpu_percent.p99, 50);
}

TEST(BenchCompare, CpuTimeIsPairedToo) {
  bench::Alternation samples;
  samples.raw_wall = samples.library_wall = {1, 1, 1};
  samples.raw_cpu = {5, 1, 9};
  samples.library_cpu = {6, 3, 12};  // differences 1, 2, 3
  bench::Added added = bench::Compare(samples);
  ASSERT_TRUE(added.has_cpu);
  EXPECT_DOUBLE_EQ(added.added_cpu.median, 2);
  EXPECT_DOUBLE_EQ(added.added_wall.median, 0);
}

TEST(BenchSummarise, TakesTheMiddleAndThe99thPercentile) {
  std::vector<double> samples;
  for (int i = 100; i >= 1; --i) samples.push_back(i);
  bench::Stats stats = bench::Summarise(samples);
  EXPECT_DOUBLE_EQ(stats.median, 51);
  EXPECT_DOUBLE_EQ(stats.p99, 100);
  EXPECT_DOUBLE_EQ(bench::Summarise({}).median, 0);
}

TEST(BenchTargets, EachKeyOnceAndEveryLimitPositive) {
  std::set<std::string> keys;
  for (const bench::Target& target : bench::kTargets) {
    EXPECT_TRUE(keys.insert(target.key).second) << target.key;
    EXPECT_GT(target.limit, 0) << target.key;
  }
}

TEST(BenchReport, AValueAtTheLimitMeetsItAndOneAboveMissesIt) {
  bench::Report report;
  report.Hold("udp_added_wall_percent", 15.0);
  report.Hold("udp_library_over_raw_calls", 1.0);
  EXPECT_TRUE(report.AllMet());
  report.Hold("pty_added_cpu_percent", 15.01);
  report.Hold("pty_added_calls_per_reply_byte", 1.25);
  EXPECT_FALSE(report.AllMet());
  ASSERT_EQ(report.Missed().size(), 2u);
  EXPECT_TRUE(Contains(report.Missed()[0], "pty reply: CPU time")) << report.Missed()[0];
  EXPECT_TRUE(Contains(report.Missed()[0], "15.01 %")) << report.Missed()[0];
  EXPECT_TRUE(Contains(report.Missed()[1], "1.25 calls, limit 1.00 calls")) << report.Missed()[1];
  std::string markdown = report.Markdown("run");
  EXPECT_TRUE(Contains(markdown, "| 15.00 % | ≤ 15.00 % | met |")) << markdown;
  EXPECT_TRUE(Contains(markdown, "| 1.000 | ≤ 1.000 | met |")) << markdown;
  EXPECT_TRUE(Contains(markdown, "| 15.01 % | ≤ 15.00 % | **missed** |")) << markdown;
  EXPECT_TRUE(Contains(report.Json("vm", 2, 10),
                       "\"pty_added_cpu_percent\": {\"measured\": 15.01, "
                       "\"limit\": 15, \"met\": false}"));
}

TEST(BenchReport, ATargetNotMeasuredFailsNothingAndSaysWhy) {
  bench::Report report;
  report.NotMeasured("udp_silent_cpu_percent", "this Wine keeps no process times");
  EXPECT_TRUE(report.AllMet());
  EXPECT_TRUE(Contains(report.Markdown("run"), "| not measured | ≤ 5.00 % | this Wine keeps"));
  EXPECT_TRUE(Contains(report.Json("vm", 2, 10),
                       "\"measured\": null, \"limit\": 5, \"met\": null, \"reason\": \"this Wine"));
}

TEST(BenchReport, AHairBelowZeroPrintsAsZero) {
  bench::Report report;
  report.Hold("udp_silent_cpu_percent", -0.001);
  EXPECT_TRUE(Contains(report.Markdown("run"), "| 0.00 % | ≤ 5.00 % | met |"))
      << report.Markdown("run");
}

TEST(BenchReport, AKeyWithoutATargetIsAProgrammingError) {
  bench::Report report;
  EXPECT_THROW(report.Hold("udp_ratio", 1.0), std::logic_error);
  EXPECT_THROW(report.NotMeasured("nothing", "why"), std::logic_error);
}

TEST(BenchReport, RowsOfAnAlternationLeaveOutTheCpuWhenItWasNotMeasured) {
  bench::Alternation samples;
  samples.raw_wall = {100, 200, 300};
  samples.library_wall = {150, 260, 310};
  bench::Report report;
  report.Rows("udp", "UDP (Wine)", bench::Compare(samples), "raw", "dll");
  std::string json = report.Json("a \"quoted\" host", 2, 3);
  EXPECT_TRUE(Contains(json, "\"udp_added_wall_us\": {\"median\": 50, \"p99\": 60}")) << json;
  EXPECT_TRUE(Contains(json, "\"udp_library_over_raw\": 1.3")) << json;
  EXPECT_FALSE(Contains(json, "udp_added_cpu_us")) << json;
  EXPECT_FALSE(Contains(json, "udp_added_cpu_percent")) << json;
  EXPECT_TRUE(Contains(json, "\"udp_added_wall_percent\": {\"median\": 30, \"p99\": 50}")) << json;
  EXPECT_TRUE(Contains(json, "\"host\": \"a \\\"quoted\\\" host\"")) << json;
  // The ratio has no percentile: its cell is a dash.
  EXPECT_TRUE(Contains(report.Markdown("run"), "| UDP (Wine) library/raw | 1.300 | – |"));
}

// A reason carries a child's stderr: its quotes, newlines and any other
// control character must come out escaped, or the file is not JSON.
struct Escape {
  const char* text;
  const char* json;
};
class BenchJsonString : public ::testing::TestWithParam<Escape> {};

TEST_P(BenchJsonString, EscapesWhatJsonForbidsInAString) {
  EXPECT_EQ(bench::JsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BenchJsonString,
    ::testing::Values(Escape{"plain", "\"plain\""}, Escape{"say \"no\"", "\"say \\\"no\\\"\""},
                      Escape{"a\\b", "\"a\\\\b\""}, Escape{"one\ntwo", "\"one\\ntwo\""},
                      Escape{"tab\there\r", "\"tab\\u0009here\\u000d\""},
                      Escape{"\x1b[31m", "\"\\u001b[31m\""}, Escape{"5 µs", "\"5 µs\""}));

TEST(BenchReport, AReasonWithAQuoteAndANewlineStaysOneJsonString) {
  bench::Report report;
  report.NotMeasured("udp_silent_cpu_percent", "avrboard said \"no\"\nand stopped");
  const std::string json = report.Json("vm", 2, 10);
  EXPECT_TRUE(Contains(json, "\"reason\": \"avrboard said \\\"no\\\"\\nand stopped\"}")) << json;
  // Every line of the file is whole: the reason's newline did not split one.
  EXPECT_FALSE(Contains(json, "\nand stopped")) << json;
}

TEST(BenchJsonObject, KeepsTheOrderAndEscapesKeysAndTexts) {
  const std::string row = bench::JsonObject()
                              .Text("board", "Uno")
                              .Number("baud", 115200, "%.0f")
                              .Bool("met", false)
                              .Json("kinds", bench::JsonObject().Number("median", 1.25).str())
                              .Text("not_measured", "failed: \"x\"\n")
                              .str();
  EXPECT_EQ(row,
            "{\"board\": \"Uno\", \"baud\": 115200, \"met\": false, \"kinds\": {\"median\": "
            "1.25}, \"not_measured\": \"failed: \\\"x\\\"\\n\"}");
  EXPECT_EQ(bench::JsonArray({"1", "{}"}), "[\n  1,\n  {}\n]\n");
  EXPECT_EQ(bench::JsonArray({}), "[\n]\n");
}

}  // namespace
