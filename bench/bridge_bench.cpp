// The block's step through each USB bridge a board may have, for a user
// choosing one: the real firmware in avrboard, the Uno image for 115200
// baud, the block with its default pins (14 exchanges a step), avrboard
// holding each reply as the bridge's model says (--bridge), and once over
// Ethernet, where no USB bridge stands between the block and the board.
// Two kinds of figure, kept apart in the table: what the model held each
// reply back (avrboard's own account at its end, the model's rule applied
// to this run's bytes) and what the block measured, the wall time of its
// steps.  Each step's exchange with a bridge waits for the bridge, so the
// step less the step with no bridge, per exchange, is to match the model's
// wait; a step that lost more than that to the bridge shows there.
//
//   bridge_bench AVRBOARD MODULE FIRMWARE_DIR OUT_DIR [SECONDS]
//
// writes OUT_DIR/bridge.md and OUT_DIR/bridge.json, each row's steps run for
// about SECONDS (default 4).  It fails when a row that could run did not;
// it holds no target, since the bridge's wait is the board's and not the
// block's.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "avr_bench_board.h"
#include "bench_block.h"
#include "bench_report.h"
#include "board_bench.h"
#include "exchange_log.h"
#include "firmware_images.h"
#include "usb_bridge.h"

namespace {

using bench::Format;
using harness::BlockExports;
using harness::ImageLink;

constexpr int kComPort = 8;
constexpr int32_t kBaud = 115200;
// Enough steps for a median even through a 16 ms FTDI timer.
constexpr size_t kLeastSteps = 10;
constexpr size_t kMostSteps = 2000;

struct Row {
  const char* bridge;  // avrboard's --bridge; nullptr for the Ethernet image
  const char* board;   // what a buyer sees on the board or its listing
  const char* rule;    // what the model does with a reply
};

const Row kRows[] = {
    {"none", "none (every byte as its frame ends, the bench's own line)",
     "passes each byte on at once"},
    {"16u2", "ATmega16U2 (genuine Uno R3, Mega 2560 R3)",
     "sends on a 4.096 ms tick, or at once when it holds more than 96 of its 128 bytes"},
    {"ch340", "CH340 (most clones)", "sends with the next 1 ms USB frame"},
    {"ftdi:16", "FTDI FT232R, latency timer 16 ms (the driver's default)",
     "sends when the timer runs out, 16 ms after its last packet, or at 62 bytes"},
    {"ftdi:1", "FTDI FT232R, latency timer lowered to 1 ms",
     "sends when the timer runs out, 1 ms after its last packet, or at 62 bytes"},
    {nullptr, "Ethernet shield (W5100), UDP", "no USB bridge: the datagrams pass none"},
};

double Microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

struct Result {
  const Row* row;
  std::string why_not;  // empty when measured
  int steps = 0;
  double exchanges_per_step = 0;
  double median_step_us = 0;
  double p90_step_us = 0;
  // The model's own account: how long it held each packet's last byte, on
  // average; nothing for no bridge.
  std::optional<double> modelled_hold_ms{};
  double unpaced_speed = 0;  // bench::UnpacedSpeed
  // No target: the bridge's wait is the board's and not the block's.
  bool missed() const { return false; }
};

double Percentile(std::vector<double> samples, double share) {
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, static_cast<size_t>(samples.size() * share))];
}

harness::BlockSettings SettingsFor(const Row& row, bench::AvrBenchBoard& board) {
  if (!row.bridge) {
    // The firmware answers once it has set the W5100 up.
    harness::ChildProcess& process = board.process();
    if (!process.WaitForStderr("the W5100 was given address", std::chrono::seconds(15))) {
      throw std::runtime_error("the firmware never set up the W5100: " + process.stderr_text());
    }
    return bench::UdpSettings(process.udp_port(), bench::Pins::kDefault);
  }
  return bench::SerialSettings(board, kComPort, kBaud);
}

Result MeasureRow(const Row& row, const bench::BoardBenchLine& line, const BlockExports& library) {
  Result result{&row, ""};
  const harness::BoardImage& image_row =
      row.bridge ? harness::FindBoardImage("uno", ImageLink::kSerial, kBaud)
                 : harness::FindBoardImage("uno", ImageLink::kEthernet);
  const bench::FirmwareImage image =
      bench::FindImage(line.firmware_dir, image_row.Name(),
                       row.bridge ? "firmware/build.sh builds it"
                                  : "set ARDUINO_ETHERNET_LIBRARY for firmware/build.sh");
  if (!image.why_not.empty()) {
    result.why_not = image.why_not;
    return result;
  }
  std::vector<std::string> extra = {"--pin",  "2=high", "--adc",
                                    "A0=512", "--adc",  "A1=sine:400:500:1000"};
  if (row.bridge) {
    extra.insert(extra.end(), {"--bridge", row.bridge});
  } else {
    extra.insert(extra.end(), {"--ethernet", "127.0.0.1:0"});
  }
  bench::AvrBenchBoard board(line.avrboard, image_row.mcu, image.path, extra);
  std::vector<double> samples;
  size_t before = 0;
  {
    bench::Block block(library, SettingsFor(row, board));
    before = bench::ExchangeCount(board.exchanges());
    const double until = Microseconds() + line.seconds * 1e6;
    while ((Microseconds() < until || samples.size() < kLeastSteps) &&
           samples.size() < kMostSteps) {
      const double start = Microseconds();
      block.Step();
      samples.push_back(Microseconds() - start);
    }
  }
  board.Stop();
  const std::string said = board.process().stderr_text();
  result.unpaced_speed = bench::UnpacedSpeed(said);
  result.modelled_hold_ms = avrboard::HeldMsOnAverage(said);
  if (row.bridge && std::string(row.bridge) != "none" && !result.modelled_hold_ms) {
    throw std::runtime_error("avrboard gave no account of its bridge model: " + said);
  }
  const size_t exchanges = bench::ExchangesAfter(board.exchanges(), before).size();
  result.steps = static_cast<int>(samples.size());
  result.exchanges_per_step = static_cast<double>(exchanges) / samples.size();
  result.median_step_us = Percentile(samples, 0.5);
  result.p90_step_us = Percentile(samples, 0.9);
  return result;
}

// The step with no bridge, which the others are read against; nothing when
// that row did not run.
std::optional<double> NoBridgeStepUs(const std::vector<Result>& results) {
  for (const Result& r : results) {
    if (r.row->bridge && std::string(r.row->bridge) == "none" && r.why_not.empty()) {
      return r.median_step_us;
    }
  }
  return std::nullopt;
}

void Write(const std::vector<Result>& results, const std::string& out_dir) {
  std::ofstream md(out_dir + "/bridge.md");
  md << "What a step of the block costs through each USB-serial bridge a board may carry, for "
        "the block's default pins (14 exchanges a step) at 115200 baud: the real Uno firmware "
        "in avrboard, avrboard holding each reply as `--bridge` says, and the Ethernet image "
        "once, over UDP, where no USB bridge applies. **Modelled**: the bridge's rule, which is "
        "the chip's published behaviour and not a measurement of one, and the wait it gave "
        "each reply in this run, on average (avrboard's own account). **Measured**: the wall "
        "time of the block's steps, and the step less the step with no bridge, per exchange, "
        "which is to match the modelled wait. No board was measured: a real bridge's wait is "
        "its chip's and its driver's.\n\n";
  md << "| Bridge | modelled: rule | modelled: wait a reply | measured: steps | exchanges/step | "
        "step (median) | step (p90) | steps/s | added per exchange | avrboard unpaced |\n"
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  const std::optional<double> none_us = NoBridgeStepUs(results);
  std::vector<std::string> rows;
  for (const Result& r : results) {
    md << "| " << r.row->board << " | " << r.row->rule << " |";
    bench::JsonObject row;
    row.Text("bridge", r.row->bridge ? r.row->bridge : "ethernet").Text("board", r.row->board);
    if (!r.why_not.empty()) {
      md << " not measured: " << r.why_not << " | | | | | | | |\n";
      rows.push_back(row.Text("not_measured", r.why_not).str());
      continue;
    }
    const double hold_ms = r.modelled_hold_ms.value_or(0);
    const bool held = r.row->bridge && r.modelled_hold_ms;
    md << " " << (held ? Format(hold_ms, "%.3f") + " ms" : std::string("–")) << " | " << r.steps
       << " | " << Format(r.exchanges_per_step, "%.1f") << " | " << Format(r.median_step_us / 1000)
       << " ms | " << Format(r.p90_step_us / 1000) << " ms | "
       << Format(1e6 / r.median_step_us, "%.1f") << " | ";
    if (held) row.Number("modelled_hold_ms", hold_ms, "%.3f");
    row.Number("steps", r.steps, "%.0f")
        .Number("exchanges_per_step", r.exchanges_per_step, "%.1f")
        .Number("median_step_us", r.median_step_us, "%.1f")
        .Number("p90_step_us", r.p90_step_us, "%.1f")
        .Number("avrboard_unpaced_speed", r.unpaced_speed, "%.1f");
    // The row with no bridge is the one the others are read against.
    if (held && none_us && r.exchanges_per_step > 0) {
      const double added_ms = (r.median_step_us - *none_us) / r.exchanges_per_step / 1000;
      md << Format(added_ms, "%.3f") << " ms";
      row.Number("added_per_exchange_ms", added_ms, "%.3f");
    } else {
      md << "–";
    }
    md << " | " << Format(r.unpaced_speed, "%.1f") << "x |\n";
    rows.push_back(row.str());
  }
  std::ofstream(out_dir + "/bridge.json") << bench::JsonArray(rows);
}

}  // namespace

int main(int argc, char** argv) {
  return bench::BoardBenchMain<Result>(
      argc, argv, "bridge_bench", "bridge", kRows, [](const Row& row) { return row.board; },
      MeasureRow, Write);
}
