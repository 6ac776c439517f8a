// What wire_bench and bridge_bench share, the two benches that step the
// block against the real firmware in avrboard: their command line,
//
//   NAME AVRBOARD MODULE FIRMWARE_DIR OUT_DIR [SECONDS]
//
// the main that measures their rows one after the other and writes the
// report, and what they read of a board's run.  POSIX only, like avrboard.
#pragma once

#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "avr_bench_board.h"
#include "exchange_log.h"
#include "loaded_block.h"

namespace bench {

struct BoardBenchLine {
  std::string avrboard, module, firmware_dir, out_dir;
  double seconds = 4;  // about how long each row's steps run
};

// NAME's command line, or nothing when it will not do, once the usage or
// what is wrong is on stderr.
std::optional<BoardBenchLine> ReadBoardBenchLine(const char* name, int argc, char** argv);

// The block set to reach `board`'s terminal as COM `com_port` at `baud`.
harness::BlockSettings SerialSettings(const AvrBenchBoard& board, int com_port, int32_t baud);

// How many times real time avrboard could have simulated the chip with no
// pacing, from what it said at its end; 0 when it said nothing of it.  Below
// about 1.5 the machine was too busy for the figures to be the line's,
// since the chip's time then falls behind the wall clock.
double UnpacedSpeed(const std::string& said);

// `value` as printf prints it with `format`, for the reports' tables.
std::string Format(double value, const char* format = "%.2f");

// How many exchanges avrboard's log at `log` holds so far.
size_t ExchangeCount(const std::string& log);
// The exchanges of the log after its first `before`.  Throws when there
// are none, or when any got ERR: the block and the firmware disagree.
std::vector<avrboard::Exchange> ExchangesAfter(const std::string& log, size_t before);

// The main of such a bench: reads the command line, loads the library and
// measures each of `rows` in turn with `measure(row, line, library)`, which
// gives a Result; `label(row)` names the row in the progress on stderr.  A
// row whose measurement throws is recorded as Result{&row, "failed: ..."}.
// Then `write(results, out_dir)` writes OUT_DIR/REPORT.md and .json, and
// the Markdown is printed.  Returns 2 for a command line that will not do;
// 1 when the library does not load, or a row was not measured (its
// why_not), failed or missed its target (its missed()); else 0.
template <typename Result, typename Rows, typename Label, typename Measure, typename Write>
int BoardBenchMain(int argc, char** argv, const char* name, const char* report, const Rows& rows,
                   Label label, Measure measure, Write write) {
  const std::optional<BoardBenchLine> line = ReadBoardBenchLine(name, argc, argv);
  if (!line) return 2;
  std::vector<Result> results;
  int status = 0;
  try {
    const harness::BlockExports& library = harness::SharedLibrary(line->module).exports();
    for (const auto& row : rows) {
      std::cerr << name << ": " << label(row) << "..." << std::endl;
      try {
        results.push_back(measure(row, *line, library));
        const Result& result = results.back();
        if (!result.why_not.empty()) {
          std::cerr << name << ": not measured: " << result.why_not << "\n";
          status = 1;
        } else if (result.missed()) {
          status = 1;
        }
      } catch (const std::exception& error) {
        std::cerr << name << ": " << error.what() << "\n";
        results.push_back(Result{&row, std::string("failed: ") + error.what()});
        status = 1;
      }
    }
  } catch (const std::exception& error) {
    std::cerr << name << ": " << error.what() << "\n";
    return 1;
  }
  write(results, line->out_dir);
  std::ifstream md(line->out_dir + "/" + report + ".md");
  std::cout << md.rdbuf();
  return status;
}

}  // namespace bench
