// Reading callgrind's output for the bench's instructions per exchange.
#include "instruction_count.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(CallgrindTotalTest, TakesTheTotalsLineElseTheSummary) {
  const struct {
    const char* output;
    std::optional<uint64_t> total;
  } cases[] = {
      {"events: Ir\nsummary: 1234\nfn=x\n5 1234\ntotals: 1234\n", 1234},
      // The totals win over a summary that disagrees with them.
      {"summary: 99\ntotals: 12345678901\n", 12345678901ull},
      {"events: Ir\nsummary: 777\n", 777},
      // More events than the instructions: the first is the instructions.
      {"events: Ir Dr\ntotals: 50 7\n", 50},
      {"totals:   42\n", 42},
      {"fn=totals: 5\n", std::nullopt},
      {"totals: many\n", std::nullopt},
      {"totals: 5x\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(bench::CallgrindTotal(c.output), c.total);
  }
}

}  // namespace
