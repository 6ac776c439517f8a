// The Windows half of the benchmark: ArduinoBlock.dll under Wine and a raw
// Winsock client under the same Wine take turns against the native boardsim
// on loopback UDP, and the difference within each pair is what the DLL adds.
//
//   wine_bench DLL BOARD_PORT OUT_DIR [COUNT]
//
// writes OUT_DIR/wine.md and OUT_DIR/wine.json (a relative OUT_DIR resolves
// against the Linux working folder, which Wine maps to a drive) and exits 1
// when a target is missed.
#include <windows.h>
// After windows.h, which it needs; for gethostname only.
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_block.h"
#include "bench_report.h"

namespace {

using bench::Block;
using bench::Pins;
using bench::RawUdpExchange;
using bench::UdpSettings;
using harness::BlockExports;
using harness::UdpPeer;

double Microseconds() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart * 1e6 / frequency.QuadPart;
}

double CpuSeconds() {
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
  auto seconds = [](FILETIME t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// Pairs of one raw and one DLL exchange, in an order that flips from pair to
// pair.  Only wall time: Wine takes a process's CPU time from the kernel's
// tick counts, far too coarse for one exchange.
void MeasureUdpExchange(const BlockExports& dll, uint16_t port, int count, bench::Report& report) {
  UdpPeer raw;
  raw.Connect(port);
  Block block(dll, UdpSettings(port, Pins::kPinTwo));
  auto timed = [](auto&& exchange, std::vector<double>* samples) {
    double start = Microseconds();
    exchange();
    double end = Microseconds();
    if (samples) samples->push_back(end - start);
  };
  auto raw_exchange = [&] { RawUdpExchange(raw); };
  auto dll_exchange = [&] { block.Step(); };
  for (int i = 0; i < bench::kWarmUpPairs; ++i) {
    timed(raw_exchange, nullptr);
    timed(dll_exchange, nullptr);
  }
  bench::Alternation samples;
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0) timed(raw_exchange, &samples.raw_wall);
    timed(dll_exchange, &samples.library_wall);
    if (i % 2 == 1) timed(raw_exchange, &samples.raw_wall);
  }
  // Wine passes every socket notification and window message through its
  // wineserver, so the DLL's message-based wait pays round trips that a
  // select and a recv do not; what it adds is reported, and the native
  // targets are not applied to it.
  report.Rows("udp", "UDP (Wine)", bench::Compare(samples), "Winsock, select then recv",
              "ArduinoBlock.dll, one used pin");
}

// A silent board: the processor time of the 100 ms waits.  Coarse process
// times are good enough over a second of waiting, unless this Wine keeps
// none at all: then the figure would pass whatever the DLL did.
void MeasureSilentUdpWait(const BlockExports& dll, uint16_t port, bench::Report& report) {
  double busy_cpu = CpuSeconds();
  {
    UdpPeer raw;
    raw.Connect(port);
    double until = Microseconds() + 200000;
    while (Microseconds() < until) RawUdpExchange(raw);
  }
  if (CpuSeconds() <= busy_cpu) {
    report.NotMeasured("udp_silent_cpu_percent", "this Wine keeps no process times");
    return;
  }
  UdpPeer silent;  // a port on loopback where nothing ever answers
  Block block(dll, UdpSettings(silent.port(), Pins::kPinTwo));
  double cpu = CpuSeconds();
  double start = Microseconds();
  for (int i = 0; i < 10; ++i) block.Step();
  report.Hold("udp_silent_cpu_percent",
              100 * (CpuSeconds() - cpu) / ((Microseconds() - start) / 1e6));
}

void WriteReport(const bench::Report& report, const std::string& out_dir, int count) {
  // The machine's own name, from the socket layer, which wants a reference
  // of its own for it.
  char host[256] = {};
  WSADATA data;
  if (WSAStartup(0x0101, &data) == 0) {
    gethostname(host, sizeof host - 1);
    WSACleanup();
  }
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  // Where 32-bit Wine cannot run, ./run bench measures the 64-bit test build
  // instead, and the figures say which DLL they are of.
#if defined(_WIN64)
  const std::string dll = "ArduinoBlock.dll of the 64-bit test build (build/win64)";
#else
  const std::string dll = "ArduinoBlock.dll, the 32-bit product (build/win32),";
#endif
  std::string preamble = dll +
                         " and a raw Winsock client, both under Wine, against the native "
                         "`boardsim`: " +
                         std::to_string(count) +
                         " pairs of one raw and one DLL exchange, taking turns.";
  // Binary, so that the lines end in LF as in the native report.
  std::ofstream(out_dir + "/wine.md", std::ios::binary) << report.Markdown(preamble);
  std::ofstream(out_dir + "/wine.json", std::ios::binary)
      << report.Json(host, static_cast<int>(system.dwNumberOfProcessors), count);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: wine_bench DLL BOARD_PORT OUT_DIR [COUNT]\n");
    return 2;
  }
  int port = std::atoi(argv[2]);
  int count = argc > 4 ? std::atoi(argv[4]) : 10000;
  if (port <= 0 || port > 65535 || count < 10) {
    std::fprintf(stderr, "wine_bench: BOARD_PORT must be a port and COUNT at least 10\n");
    return 2;
  }
  bench::Report report;
  try {
    const BlockExports& dll = harness::SharedLibrary(argv[1]).exports();
    MeasureUdpExchange(dll, static_cast<uint16_t>(port), count, report);
    MeasureSilentUdpWait(dll, static_cast<uint16_t>(port), report);
    WriteReport(report, argv[3], count);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wine_bench: %s\n", e.what());
    return 1;
  }
  if (!report.AllMet()) {
    std::fprintf(stderr, "\nwine_bench: targets missed:\n");
    for (const std::string& missed : report.Missed())
      std::fprintf(stderr, "  %s\n", missed.c_str());
    return 1;
  }
  std::fprintf(stderr, "\nwine_bench: all targets met\n");
  return 0;
}
