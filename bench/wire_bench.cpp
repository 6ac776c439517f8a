// The block's step against the time its bytes take on the wire, at each
// speed the dialog offers: the real firmware in avrboard, the Uno and the
// Mega 2560 image built for the speed, the block loaded from the library
// with its default pins (14 exchanges a step) and set to the same speed.
// The wire time of a step is what its commands and replies take at 10 bits
// a byte (8N1): avrboard notes every exchange it sees (--exchanges), and the
// bytes of those of the measured steps, over the number of steps, give the
// bytes of one.  Everything beyond it is the firmware's own turnaround, the
// pseudo-terminal and avrboard's pacing, and the block.  Of those the block
// controls its own work alone: the target is the processor time of the
// thread that runs the step, against the wire time.  The step against the
// wire time is reported; at 115200 baud the board and the machine take more
// of it than the block can give back.
//
//   wire_bench AVRBOARD MODULE FIRMWARE_DIR OUT_DIR [SECONDS]
//
// writes OUT_DIR/wire.md and OUT_DIR/wire.json, each row's steps run for
// about SECONDS (default 4).  It fails when a row that could run did not,
// or when the block's own processor time per step is more than the target
// share of the wire time.
#include <time.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "avr_bench_board.h"
#include "bench_block.h"
#include "bench_report.h"
#include "board_bench.h"
#include "exchange_log.h"
#include "firmware_images.h"

namespace {

using bench::Format;
using harness::BlockExports;

constexpr int kComPort = 7;
// The block's processor time in a step over the step's wire time, at most.
// Most of that time is the calls any client of the line makes (a write per
// command byte, a wait and a read per reply byte); at 115200 baud it came to
// 9–10 % on a two-core VM shared with avrboard, where a system call costs
// several times what it costs on bare metal.
constexpr double kTarget = 0.15;
constexpr int kBitsPerByte = 10;  // start, 8 data, stop

// Every serial image, each board's at every speed.
using Row = harness::BoardImage;
std::vector<Row> SerialImages() {
  std::vector<Row> rows;
  for (const Row& image : harness::BoardImages()) {
    if (image.link == harness::ImageLink::kSerial) rows.push_back(image);
  }
  return rows;
}
const std::vector<Row> kRows = SerialImages();

double Microseconds(clockid_t clock = CLOCK_MONOTONIC) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

// The bytes an exchange put on the wire: the command, the reply and the
// reply's CR LF.
size_t WireBytes(const avrboard::Exchange& exchange) {
  return exchange.command.size() + exchange.reply.size() + 2;
}

struct Result {
  const Row* row;
  std::string why_not;  // empty when measured
  int steps = 0;
  double exchanges_per_step = 0;
  double wire_us = 0;         // of one step
  double median_step_us = 0;  // measured
  // The processor time of the thread that ran the step: the block's own
  // work and its system calls, not the board's nor the terminal's.
  double median_block_cpu_us = 0;
  double unpaced_speed = 0;  // bench::UnpacedSpeed
  double ratio() const { return wire_us > 0 ? median_step_us / wire_us : 0; }
  double block_share() const { return wire_us > 0 ? median_block_cpu_us / wire_us : 0; }
  bool missed() const { return block_share() > kTarget; }
};

Result MeasureRow(const Row& row, const bench::BoardBenchLine& line, const BlockExports& library) {
  Result result{&row, ""};
  const bench::FirmwareImage image =
      bench::FindImage(line.firmware_dir, row.Name(), "firmware/build.sh builds it");
  if (!image.why_not.empty()) {
    result.why_not = image.why_not;
    return result;
  }
  bench::AvrBenchBoard board(
      line.avrboard, row.mcu, image.path,
      {"--pin", "2=high", "--adc", "A0=512", "--adc", "A1=sine:400:500:1000"});
  std::vector<double> samples, cpu_samples;
  size_t before = 0;
  {
    // Init opens the port and takes the 2 s pause, then sets the pins up;
    // the exchanges from here on are the measured steps'.
    bench::Block block(library, bench::SerialSettings(board, kComPort, row.baud));
    before = bench::ExchangeCount(board.exchanges());
    const double until = Microseconds() + line.seconds * 1e6;
    while (Microseconds() < until || samples.size() < 10) {
      const double start = Microseconds();
      const double cpu_start = Microseconds(CLOCK_THREAD_CPUTIME_ID);
      block.Step();
      cpu_samples.push_back(Microseconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start);
      samples.push_back(Microseconds() - start);
      if (samples.size() >= 2000) break;
    }
  }
  board.Stop();
  result.unpaced_speed = bench::UnpacedSpeed(board.process().stderr_text());
  const std::vector<avrboard::Exchange> measured = bench::ExchangesAfter(board.exchanges(), before);
  size_t bytes = 0;
  for (const avrboard::Exchange& exchange : measured) bytes += WireBytes(exchange);
  std::sort(samples.begin(), samples.end());
  result.steps = static_cast<int>(samples.size());
  result.exchanges_per_step = static_cast<double>(measured.size()) / samples.size();
  result.wire_us = bytes * kBitsPerByte * 1e6 / row.baud / samples.size();
  result.median_step_us = samples[samples.size() / 2];
  std::sort(cpu_samples.begin(), cpu_samples.end());
  result.median_block_cpu_us = cpu_samples[cpu_samples.size() / 2];
  return result;
}

void Write(const std::vector<Result>& results, const std::string& out_dir) {
  std::ofstream md(out_dir + "/wire.md");
  md << "The block's step against the wire time of its bytes, over serial to the real firmware "
        "in avrboard, the image built for the speed and the block set to it, with the block's "
        "default pins (14 exchanges a step). Wire time: the bytes of each command and reply of "
        "a step at 10 bits a byte. Step: the median wall time of SimulateDLL; it also holds the "
        "firmware's "
        "turnaround, the pseudo-terminal and the machine, and is reported. Block CPU: the "
        "median processor time of the thread that ran the step, the block's own work and "
        "system calls, the one part of a step the block controls. Target: the block's CPU "
        "time is at most "
     << Format(kTarget * 100, "%.0f")
     << " % of the wire time. avrboard unpaced: how many times real time avrboard could "
        "have simulated the chip in that run; below about 1.5 the machine was too busy for "
        "the chip to keep pace, and the step shows the machine more than the line.\n\n";
  md << "| Board | Speed | steps | exchanges/step | wire time/step | step (median) | step/wire | "
        "block CPU/wire | target | avrboard unpaced |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|---|---:|\n";
  std::vector<std::string> rows;
  for (const Result& r : results) {
    md << "| " << r.row->board << " | " << r.row->baud << " baud |";
    bench::JsonObject row;
    row.Text("board", r.row->board).Number("baud", r.row->baud, "%.0f");
    if (!r.why_not.empty()) {
      md << " not measured: " << r.why_not << " | | | | | | | | |\n";
      rows.push_back(row.Text("not_measured", r.why_not).str());
      continue;
    }
    const bool met = r.block_share() <= kTarget;
    md << " " << r.steps << " | " << Format(r.exchanges_per_step, "%.1f") << " | "
       << Format(r.wire_us / 1000) << " ms | " << Format(r.median_step_us / 1000) << " ms | "
       << Format(r.ratio(), "%.3f") << " | " << Format(r.block_share() * 100, "%.1f") << " % | "
       << (met ? "met" : "missed") << " | " << Format(r.unpaced_speed, "%.1f") << "x |\n";
    rows.push_back(row.Number("steps", r.steps, "%.0f")
                       .Number("exchanges_per_step", r.exchanges_per_step, "%.1f")
                       .Number("wire_us", r.wire_us, "%.1f")
                       .Number("median_step_us", r.median_step_us, "%.1f")
                       .Number("step_over_wire", r.ratio(), "%.3f")
                       .Number("median_block_cpu_us", r.median_block_cpu_us, "%.1f")
                       .Number("block_cpu_over_wire", r.block_share(), "%.4f")
                       .Number("block_cpu_over_wire_limit", kTarget, "%g")
                       .Bool("met", met)
                       .Number("avrboard_unpaced_speed", r.unpaced_speed, "%.1f")
                       .str());
  }
  std::ofstream(out_dir + "/wire.json") << bench::JsonArray(rows);
}

}  // namespace

int main(int argc, char** argv) {
  return bench::BoardBenchMain<Result>(
      argc, argv, "wire_bench", "wire", kRows,
      [](const Row& row) {
        return std::string(row.board) + " at " + std::to_string(row.baud) + " baud";
      },
      MeasureRow, Write);
}
