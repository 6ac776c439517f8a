// Measures what the library adds to each exchange with a board, natively:
// one exchange of a minimal client of our own and one exchange of the
// library through its exports take turns against boardsim, so that both see
// the same machine at the same moment, and the difference within each pair
// is the library's cost.  Also measures the processor share of a wait for a
// silent board and the memory of a long run, and holds all of it to the
// targets in bench_report.h.
//
//   exchange_bench BOARDSIM MODULE OUT_DIR [COUNT]
//
// writes OUT_DIR/native.md and OUT_DIR/native.json and exits 1 when a target
// is missed.  It also runs itself under callgrind, for the instructions of
// each side's exchange:
//
//   exchange_bench --instructions raw|library PORT MODULE COUNT
//
// makes COUNT exchanges of that side with the board at UDP PORT inside
// CountedExchanges, the one function callgrind collects in.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_block.h"
#include "bench_report.h"
#include "call_counter.h"
#include "child_process.h"
#include "files.h"
#include "instruction_count.h"
#include "pty_pair.h"
#include "raw_udp_client.h"
#include "serial_client.h"
#include "udp_peer.h"

namespace {

using bench::Block;
using bench::kCommand;
using bench::Pins;
using bench::RawUdpClient;
using bench::UdpSettings;
using harness::BlockExports;
using harness::BlockSettings;
using harness::ChildProcess;
using harness::SerialClient;
using harness::UdpPeer;
using std::chrono::milliseconds;

// The COM number the pty measurements give the library, through
// ARDUINO_BLOCK_COM9.
constexpr int kComPort = 9;
// UDP pairs per COUNT.  A pair takes some 15 µs, and the median share of
// 10,000 came out on either side of its limit from run to run of one
// build; five times as many still take about two seconds.
constexpr int kUdpPairsPerCount = 5;
// Exchanges under callgrind, after as many to warm up: the count per
// exchange is the same from a few hundred on.
constexpr int kCountedExchanges = 1000;

// The raw side of a UDP pair: one exchange of the fair client, failing as
// the library's would not when the board is silent.
void RawClientExchange(RawUdpClient& raw) {
  if (raw.Exchange(kCommand, bench::kUdpReplyLimit) == 0) {
    throw std::runtime_error("raw UDP client: no reply within the block's limit");
  }
}

double Microseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void UseSerialPort(const std::string& path) {
  setenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str(), path.c_str(), 1);
}

BlockSettings SerialSettings(Pins pins) {
  BlockSettings settings;
  settings.interface_kind = arduino::kInterfaceUsb;
  settings.com_port = kComPort;
  return bench::WithPins(settings, pins);
}

ChildProcess StartUdpBoard(const std::string& boardsim) {
  return harness::StartBoardsim(boardsim, {"--udp", "127.0.0.1:0"});
}

// The raw serial exchange makes the calls any client of the serial link
// must make: a write of its own for each byte of the command, and for each
// byte of the reply up to its line feed a wait of at most 10 ms and a read
// of its own, the whole reply bounded by a second.  What the library adds
// to that is its own work, above all the pump pass after every byte.
// Returns the number of bytes of the reply.
int RawPtyExchange(SerialClient& line) {
  for (char c : kCommand) line.WriteByte(c);
  int waits = 0;
  int bytes = 0;
  while (true) {
    const std::optional<char> c = line.ReadByte(milliseconds(10));
    if (c) ++bytes;
    if (c && *c == '\n') return bytes;
    if (!c && ++waits > 100) {
      throw std::runtime_error("raw serial client: no reply within a second");
    }
  }
}

// The times of the measured pairs and the system calls of each side, summed
// over the pairs.
struct Measured {
  bench::Alternation samples;
  bench::CallCounts raw_calls, library_calls;
  int pairs = 0;
};

// Runs pairs of one raw exchange and one library exchange and keeps the wall
// and CPU time of each, and counts their system calls.  The order flips from
// pair to pair, so that neither side always runs right after the other has
// woken the board.
Measured Alternate(int pairs, const std::function<void()>& raw,
                   const std::function<void()>& library) {
  Measured measured;
  measured.pairs = pairs;
  bench::Alternation& samples = measured.samples;
  // The counts are read outside the clocks; they cost no system call.
  auto timed = [](const std::function<void()>& exchange, std::vector<double>* wall,
                  std::vector<double>* cpu, bench::CallCounts* calls) {
    const bench::CallCounts calls_start = bench::CountedCalls();
    double cpu_start = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
    double wall_start = Microseconds(CLOCK_MONOTONIC);
    exchange();
    double wall_end = Microseconds(CLOCK_MONOTONIC);
    double cpu_end = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
    const bench::CallCounts calls_end = bench::CountedCalls();
    if (wall) {
      wall->push_back(wall_end - wall_start);
      cpu->push_back(cpu_end - cpu_start);
      *calls += calls_end - calls_start;
    }
  };
  for (int i = 0; i < bench::kWarmUpPairs; ++i) {
    timed(raw, nullptr, nullptr, nullptr);
    timed(library, nullptr, nullptr, nullptr);
  }
  for (int i = 0; i < pairs; ++i) {
    if (i % 2 == 0) timed(raw, &samples.raw_wall, &samples.raw_cpu, &measured.raw_calls);
    timed(library, &samples.library_wall, &samples.library_cpu, &measured.library_calls);
    if (i % 2 == 1) timed(raw, &samples.raw_wall, &samples.raw_cpu, &measured.raw_calls);
  }
  return measured;
}

double PerExchange(const bench::CallCounts& calls, int pairs) {
  return static_cast<double>(calls.Total()) / pairs;
}

// The rows of the system calls of both sides, by kind, and the rows and
// holds of the time the library adds as a share of the raw exchange.
bench::Added ReportPairs(const std::string& key, const std::string& what, const Measured& measured,
                         const std::string& raw_note, const std::string& library_note,
                         bench::Report& report) {
  bench::Added added = bench::Compare(measured.samples);
  report.Rows(key, what, added, raw_note, library_note);
  report.Row(key + "_raw_calls", what + " raw: system calls per exchange",
             PerExchange(measured.raw_calls, measured.pairs), -1, "calls",
             measured.raw_calls.PerExchange(measured.pairs));
  report.Row(key + "_library_calls", what + " library: system calls per exchange",
             PerExchange(measured.library_calls, measured.pairs), -1, "calls",
             measured.library_calls.PerExchange(measured.pairs));
  report.Hold(key + "_added_wall_percent", added.added_wall_percent.median);
  report.Hold(key + "_added_cpu_percent", added.added_cpu_percent.median);
  return added;
}

void MeasureUdpExchange(const BlockExports& library, const std::string& boardsim, int pairs,
                        bench::Report& report) {
  ChildProcess board = StartUdpBoard(boardsim);
  RawUdpClient raw(board.udp_port());
  Block block(library, UdpSettings(board.udp_port(), Pins::kPinTwo));
  const Measured measured = Alternate(
      pairs, [&] { RawClientExchange(raw); }, [&] { block.Step(); });
  ReportPairs("udp", "UDP", measured,
              "a bound, unconnected socket: sendto, a wait of at most 100 ms, all waiting read",
              "SimulateDLL, one used pin", report);
  report.Hold("udp_library_over_raw_calls",
              PerExchange(measured.library_calls, pairs) / PerExchange(measured.raw_calls, pairs));
}

// The instructions of `count` exchanges of one side under callgrind, from a
// run of this program in --instructions mode against the board at `port`.
double InstructionsPerExchange(const std::string& self, const std::string& side, uint16_t port,
                               const std::string& module, int count, const std::string& out_dir) {
  const std::string output = out_dir + "/callgrind." + side + ".out";
  const char* path = std::getenv("PATH");
  const std::string valgrind = bench::FindProgram("valgrind", path ? path : "");
  if (valgrind.empty()) {
    throw std::runtime_error(
        "no valgrind on PATH, for the instructions per exchange "
        "(./run bench installs it)");
  }
  const harness::RunResult run = harness::RunProgram(
      {valgrind, "--tool=callgrind", "--collect-atstart=no",
       std::string("--toggle-collect=") + bench::kCountedFunction, "--callgrind-out-file=" + output,
       self, "--instructions", side, std::to_string(port), module, std::to_string(count)},
      {}, std::chrono::minutes(5));
  if (run.exit_code != 0) {
    throw std::runtime_error("callgrind on the " + side + " side failed (" +
                             std::to_string(run.exit_code) + "): " + run.err);
  }
  const std::optional<uint64_t> total = bench::CallgrindTotal(harness::ReadFile(output));
  if (!total) throw std::runtime_error("no total in " + output);
  return static_cast<double>(*total) / count;
}

// Instructions per exchange of each side, as rows: the raw client's against
// the library's whole step with one used pin.
void MeasureInstructions(const std::string& module, const std::string& boardsim,
                         const std::string& out_dir, bench::Report& report) {
  ChildProcess board = StartUdpBoard(boardsim);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const double raw =
      InstructionsPerExchange(self, "raw", board.udp_port(), module, kCountedExchanges, out_dir);
  const double library = InstructionsPerExchange(self, "library", board.udp_port(), module,
                                                 kCountedExchanges, out_dir);
  const std::string note =
      "callgrind, user space only, " + std::to_string(kCountedExchanges) + " exchanges";
  report.Row("udp_raw_instructions", "UDP raw: instructions per exchange", raw, -1, "", note);
  report.Row("udp_library_instructions", "UDP library: instructions per exchange", library, -1, "",
             note);
  report.Row("udp_library_over_raw_instructions", "UDP library/raw instructions", library / raw, -1,
             "", "the machine's speed has no part in it");
}

// The wall time of whole steps with the default pins, 14 exchanges each,
// for the tables that estimate steps per second; not held to a target.
bench::Stats TimeSteps(Block& block, int steps) {
  std::vector<double> samples;
  for (int i = 0; i < steps; ++i) {
    double start = Microseconds(CLOCK_MONOTONIC);
    block.Step();
    samples.push_back(Microseconds(CLOCK_MONOTONIC) - start);
  }
  return bench::Summarise(samples);
}

void MeasureUdpStep(const BlockExports& library, const std::string& boardsim, int count,
                    bench::Report& report) {
  ChildProcess board = StartUdpBoard(boardsim);
  Block block(library, UdpSettings(board.udp_port(), Pins::kDefault));
  bench::Stats step = TimeSteps(block, count / 10);
  report.Row("udp_default_step_us", "UDP default step (14 exchanges)", step.median, step.p99, "µs",
             "reported, not a target");
}

// Both clients share one board and one pseudo-terminal, so that they meet
// the same board process too: a board of its own for each turned out faster
// or slower for the whole run, by more than the library costs.  The raw
// client opens the terminal first, since the library then locks it against
// later openers; they never read at the same time, and each reads its reply
// to the line feed, so neither takes the other's bytes.
void MeasurePtyExchange(const BlockExports& library, const std::string& boardsim, int count,
                        bench::Report& report) {
  harness::TempDir dir;
  const std::string tty = dir.File("tty");
  ChildProcess board = harness::StartBoardsim(boardsim, {"--pty", tty});
  SerialClient raw(tty);
  if (!raw.valid()) throw std::runtime_error("raw serial client: cannot open " + tty);
  UseSerialPort(tty);
  Block block(library, SerialSettings(Pins::kPinTwo));
  int reply_bytes = 0;
  const Measured measured = Alternate(
      count, [&] { reply_bytes = RawPtyExchange(raw); }, [&] { block.Step(); });
  ReportPairs("pty", "pty", measured, "a write per command byte, a wait and a read per reply byte",
              "SimulateDLL, one used pin", report);
  report.Hold("pty_added_calls_per_reply_byte", (PerExchange(measured.library_calls, count) -
                                                 PerExchange(measured.raw_calls, count)) /
                                                    reply_bytes);
}

void MeasurePtyStep(const BlockExports& library, const std::string& boardsim, int count,
                    bench::Report& report) {
  harness::TempDir dir;
  const std::string tty = dir.File("tty");
  ChildProcess board = harness::StartBoardsim(boardsim, {"--pty", tty});
  UseSerialPort(tty);
  Block block(library, SerialSettings(Pins::kDefault));
  bench::Stats step = TimeSteps(block, count / 10);
  report.Row("pty_default_step_us", "pty default step (14 exchanges)", step.median, step.p99, "µs",
             "reported, not a target");
}

// The processor share of `steps` steps that each wait out the reply time.
double SilentCpuShare(Block& block, int steps) {
  double cpu = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
  double wall = Microseconds(CLOCK_MONOTONIC);
  for (int i = 0; i < steps; ++i) block.Step();
  return (Microseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu) / (Microseconds(CLOCK_MONOTONIC) - wall);
}

// A UDP port on loopback where nothing ever answers.
void MeasureSilentUdpWait(const BlockExports& library, bench::Report& report) {
  UdpPeer silent;
  Block block(library, UdpSettings(silent.port(), Pins::kPinTwo));
  report.Hold("udp_silent_cpu_percent", 100 * SilentCpuShare(block, 20));
}

// A pseudo-terminal whose board end never answers.
void MeasureSilentSerialWait(const BlockExports& library, bench::Report& report) {
  harness::PtyPair silent(kComPort);
  Block block(library, SerialSettings(Pins::kPinTwo));
  report.Hold("serial_silent_cpu_percent", 100 * SilentCpuShare(block, 3));
}

void MeasureRssGrowth(const BlockExports& library, const std::string& boardsim,
                      bench::Report& report) {
  ChildProcess board = StartUdpBoard(boardsim);
  Block block(library, UdpSettings(board.udp_port(), Pins::kPinTwo));
  for (int i = 0; i < 10000; ++i) block.Step();
  long before = ResidentKiB();
  for (int i = 0; i < 100000; ++i) block.Step();
  report.Hold("rss_growth_kib", static_cast<double>(ResidentKiB() - before));
}

void WriteReport(const bench::Report& report, const std::string& out_dir, int count) {
  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string preamble =
      "Measured natively by `./run bench` on " + bench::TodayUtc() + ", " + std::to_string(cores) +
      " cores, an optimised build, against `boardsim` on the same machine: " +
      std::to_string(count * kUdpPairsPerCount) + " UDP and " + std::to_string(count) +
      " pty pairs of one raw and one library exchange, taking turns, and "
      "a tenth as many whole steps as pty pairs.";
  std::string markdown = report.Markdown(preamble);
  std::cout << markdown;
  std::ofstream(out_dir + "/native.md") << markdown;
  std::ofstream(out_dir + "/native.json") << report.Json(host, static_cast<int>(cores), count);
}

}  // namespace

// The counted exchanges, the only function callgrind collects in: C linkage
// so that --toggle-collect can name it, and never inlined into its caller.
extern "C" __attribute__((noinline, visibility("default"))) void CountedExchanges(
    const std::function<void()>& exchange, int count) {
  for (int i = 0; i < count; ++i) exchange();
}

namespace {

int CountInstructions(const std::string& side, uint16_t port, const std::string& module,
                      int count) {
  const BlockExports& library = harness::SharedLibrary(module).exports();
  std::function<void()> exchange;
  std::optional<RawUdpClient> raw;
  std::optional<Block> block;
  if (side == "raw") {
    raw.emplace(port);
    exchange = [&] { RawClientExchange(*raw); };
  } else if (side == "library") {
    block.emplace(library, UdpSettings(port, Pins::kPinTwo));
    exchange = [&] { block->Step(); };
  } else {
    std::cerr << "exchange_bench: --instructions takes raw or library, not " << side << "\n";
    return 2;
  }
  for (int i = 0; i < count; ++i) exchange();
  CountedExchanges(exchange, count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--instructions") {
    try {
      return CountInstructions(argv[2], static_cast<uint16_t>(std::atoi(argv[3])), argv[4],
                               std::atoi(argv[5]));
    } catch (const std::exception& e) {
      std::cerr << "exchange_bench --instructions: " << e.what() << "\n";
      return 1;
    }
  }
  if (argc < 4 || argc > 5) {
    std::cerr << "usage: exchange_bench BOARDSIM MODULE OUT_DIR [COUNT]\n";
    return 2;
  }
  std::string boardsim = argv[1], module = argv[2], out_dir = argv[3];
  int count = argc > 4 ? std::atoi(argv[4]) : 10000;
  if (count < 10) {
    std::cerr << "exchange_bench: COUNT must be a number of at least 10, not " << argv[4] << "\n";
    return 2;
  }
  bench::Report report;
  if (!bench::CountingWorks()) {
    std::cerr << "exchange_bench: the C library's calls are not counted: link the bench with "
                 "its symbols exported\n";
    return 1;
  }
  try {
    const BlockExports& library = harness::SharedLibrary(module).exports();
    MeasureUdpExchange(library, boardsim, count * kUdpPairsPerCount, report);
    MeasureUdpStep(library, boardsim, count, report);
    MeasurePtyExchange(library, boardsim, count, report);
    MeasurePtyStep(library, boardsim, count, report);
    MeasureSilentUdpWait(library, report);
    MeasureSilentSerialWait(library, report);
    MeasureRssGrowth(library, boardsim, report);
    MeasureInstructions(module, boardsim, out_dir, report);
    WriteReport(report, out_dir, count);
  } catch (const std::exception& e) {
    std::cerr << "exchange_bench: " << e.what() << "\n";
    return 1;
  }
  if (!report.AllMet()) {
    std::cerr << "\nexchange_bench: targets missed:\n";
    for (const std::string& missed : report.Missed()) std::cerr << "  " << missed << "\n";
    return 1;
  }
  std::cerr << "\nexchange_bench: all targets met\n";
  return 0;
}
