// The Windows half of the benchmark: ArduinoBlock.dll under Wine and a raw
// Winsock client under the same Wine take turns against the native boardsim
// on loopback UDP, and the difference within each pair is what the DLL adds.
//
//   wine_bench DLL BOARD_PORT OUT_DIR [COUNT]
//
// writes OUT_DIR/wine.md and OUT_DIR/wine.json (a relative OUT_DIR resolves
// against the Linux working folder, which Wine maps to a drive) and exits 1
// when a target is missed.
#include <winsock2.h>
// winsock2.h must come first; it brings in windows.h itself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "bench_report.h"

namespace {

// Pairs run before the measured ones, so that the first allocations and a
// cold cache weigh on neither side.
constexpr int kWarmUpPairs = 200;

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

// The DLL, driven only through the exports a host calls to run a block.
struct Dll {
  explicit Dll(const char* path) : module(LoadLibraryA(path)) {
    if (!module) throw std::runtime_error(std::string("cannot load ") + path);
    init = Get<InitUserDLLFn>("InitUserDLL");
    dispose = Get<DisposeUserDLLFn>("DisposeUserDLL");
    read_settings = Get<ReadFromFileFn>("ReadFromFile");
    start = Get<InitSimulationDLLFn>("InitSimulationDLL");
    step = Get<SimulateDLLFn>("SimulateDLL");
    end = Get<EndSimulationDLL2Fn>("EndSimulationDLL2");
  }
  template <class F>
  F Get(const char* name) {
    FARPROC address = GetProcAddress(module, name);
    if (!address) throw std::runtime_error(std::string("the DLL exports no ") + name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(address));
  }
  HMODULE module;
  InitUserDLLFn init;
  DisposeUserDLLFn dispose;
  ReadFromFileFn read_settings;
  InitSimulationDLLFn start;
  SimulateDLLFn step;
  EndSimulationDLL2Fn end;
};

// A block with only pin 2 in use, pointed at 127.0.0.1:port, configured the
// way a host loads a project: through ReadFromFile on a file handle.
class Block {
 public:
  Block(Dll& dll, int port) : dll_(dll), record_(8192, 0), inputs_(80, 0), outputs_(140, 0) {
    dll_.init(record_.data());
    std::string text = "0\r\n1\r\n9600\r\n127.0.0.1\r\n" + std::to_string(port) + "\r\n1\r\n";
    for (int i = 0; i < 13; ++i) text += "0\r\n";
    char path[MAX_PATH], dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    GetTempFileNameA(dir, "wb", 0, path);
    HFILE file = _lcreat(path, 0);
    _lwrite(file, text.data(), static_cast<UINT>(text.size()));
    _llseek(file, 0, 0);
    dll_.read_settings(static_cast<uint32_t>(file), record_.data());
    _lclose(file);
    DeleteFileA(path);
    dll_.start(record_.data(), inputs_.data(), outputs_.data());
  }
  ~Block() {
    dll_.end(record_.data());
    dll_.dispose(record_.data());
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  void Step() { dll_.step(Lead12{}, record_.data(), inputs_.data(), outputs_.data()); }

 private:
  Dll& dll_;
  std::vector<unsigned char> record_, inputs_, outputs_;
};

// The raw Winsock client: a connected socket, one datagram out, one back.
class RawUdpPeer {
 public:
  explicit RawUdpPeer(int port) : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in board{};
    board.sin_family = AF_INET;
    board.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    board.sin_port = htons(static_cast<u_short>(port));
    if (socket_ == INVALID_SOCKET ||
        connect(socket_, reinterpret_cast<sockaddr*>(&board), sizeof board) != 0) {
      throw std::runtime_error("raw UDP client: cannot connect to the board");
    }
  }
  ~RawUdpPeer() { closesocket(socket_); }
  RawUdpPeer(const RawUdpPeer&) = delete;
  RawUdpPeer& operator=(const RawUdpPeer&) = delete;

  void Exchange() {
    char reply[64];
    if (send(socket_, "?02s?", 5, 0) != 5 || recv(socket_, reply, sizeof reply, 0) <= 0) {
      throw std::runtime_error("raw UDP exchange failed");
    }
  }

 private:
  SOCKET socket_;
};

// A UDP port on loopback where nothing ever answers.
class SilentUdpPeer {
 public:
  SilentUdpPeer() : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof local;
    if (socket_ == INVALID_SOCKET ||
        bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      throw std::runtime_error("cannot bind a silent UDP port");
    }
    port_ = ntohs(local.sin_port);
  }
  ~SilentUdpPeer() { closesocket(socket_); }
  SilentUdpPeer(const SilentUdpPeer&) = delete;
  SilentUdpPeer& operator=(const SilentUdpPeer&) = delete;
  int port() const { return port_; }

 private:
  SOCKET socket_;
  int port_ = 0;
};

// Pairs of one raw and one DLL exchange, in an order that flips from pair to
// pair.  Only wall time: Wine takes a process's CPU time from the kernel's
// tick counts, far too coarse for one exchange.
void MeasureUdpExchange(Dll& dll, int port, int count, bench::Report& report) {
  RawUdpPeer raw(port);
  Block block(dll, port);
  auto timed = [](auto&& exchange, std::vector<double>* samples) {
    double start = Microseconds();
    exchange();
    double end = Microseconds();
    if (samples) samples->push_back(end - start);
  };
  auto raw_exchange = [&] { raw.Exchange(); };
  auto dll_exchange = [&] { block.Step(); };
  for (int i = 0; i < kWarmUpPairs; ++i) {
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
  // blocking recv does not; what it adds is reported, and the native targets
  // are not applied to it.
  report.Rows("udp", "UDP (Wine)", bench::Compare(samples), "Winsock, blocking recv",
              "ArduinoBlock.dll, one used pin");
}

// A silent board: the processor time of the 100 ms waits.  Coarse process
// times are good enough over a second of waiting, unless this Wine keeps
// none at all: then the figure would pass whatever the DLL did.
void MeasureSilentUdpWait(Dll& dll, int port, bench::Report& report) {
  double busy_cpu = CpuSeconds();
  {
    RawUdpPeer raw(port);
    double until = Microseconds() + 200000;
    while (Microseconds() < until) raw.Exchange();
  }
  if (CpuSeconds() <= busy_cpu) {
    report.NotMeasured("udp_silent_cpu_percent", "this Wine keeps no process times");
    return;
  }
  SilentUdpPeer silent;
  Block block(dll, silent.port());
  double cpu = CpuSeconds();
  double start = Microseconds();
  for (int i = 0; i < 10; ++i) block.Step();
  report.Hold("udp_silent_cpu_percent",
              100 * (CpuSeconds() - cpu) / ((Microseconds() - start) / 1e6));
}

void WriteReport(const bench::Report& report, const std::string& out_dir, int count) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  std::string preamble =
      "ArduinoBlock.dll and a raw Winsock client, both under Wine, against the native "
      "`boardsim`: " +
      std::to_string(count) + " pairs of one raw and one DLL exchange, taking turns.";
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
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  bench::Report report;
  try {
    Dll dll(argv[1]);
    MeasureUdpExchange(dll, port, count, report);
    MeasureSilentUdpWait(dll, port, report);
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
