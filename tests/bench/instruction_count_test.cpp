// Reading callgrind's output for the bench's instructions per exchange.
#include "instruction_count.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "files.h"

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

// Each row: the folders of PATH, and which of them (by index) the program
// is found in; -1 for none.  Folder 0 has it, folder 1 has it without the
// right to run it, folder 2 has it too.
TEST(FindProgramTest, TakesTheFirstFolderWhereItCanRun) {
  harness::TempDir dir;
  const std::string folders[] = {dir.File("a"), dir.File("b"), dir.File("c"), dir.File("d")};
  for (const std::string& folder : folders) std::filesystem::create_directory(folder);
  for (int i : {0, 1, 2}) {
    const std::string program = folders[i] + "/tool";
    std::ofstream(program) << "#!/bin/sh\n";
    std::filesystem::permissions(
        program, i == 1 ? std::filesystem::perms::owner_read : std::filesystem::perms::owner_all);
  }
  const struct {
    std::string path;
    int found;
  } cases[] = {
      {folders[0] + ":" + folders[2], 0},
      {folders[3] + ":" + folders[2] + ":" + folders[0], 2},
      {folders[1] + ":" + folders[2], 2},
      {folders[3], -1},
      {folders[1], -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(bench::FindProgram("tool", c.path), c.found < 0 ? "" : folders[c.found] + "/tool");
  }
}

}  // namespace
