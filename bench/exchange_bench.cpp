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
// is missed.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "arduino_block.h"
#include "bench_report.h"

extern char** environ;

namespace {

// The COM number the pty measurements give the library, through
// ARDUINO_BLOCK_COM9.
constexpr int kComPort = 9;
// Pairs run before the measured ones, so that page faults, the first
// allocations and a cold cache weigh on neither side.
constexpr int kWarmUpPairs = 200;

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

// A boardsim child process; its start-up line on stderr tells where it
// listens.  It is stopped when this goes.
class Board {
 public:
  Board(const std::string& path, std::vector<std::string> args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int error = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (error != 0) {
      close(pipe_fds[0]);
      throw std::runtime_error("cannot start " + path);
    }
    stderr_ = pipe_fds[0];
    char c;
    while (read(stderr_, &c, 1) == 1 && c != '\n') startup_ += c;
    if (startup_.find(" on ") == std::string::npos) {
      Stop();
      throw std::runtime_error("boardsim did not start: " + startup_);
    }
  }
  ~Board() { Stop(); }
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // "boardsim: listening on udp 127.0.0.1:PORT"
  uint16_t udp_port() const {
    return static_cast<uint16_t>(std::stoi(startup_.substr(startup_.rfind(':') + 1)));
  }

 private:
  void Stop() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    close(stderr_);
  }

  pid_t pid_ = 0;
  int stderr_ = -1;
  std::string startup_;
};

// The module, driven only through the exports a host calls to run a block.
struct Library {
  explicit Library(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW)) {
    if (!handle) throw std::runtime_error(dlerror());
    init = Get<InitUserDLLFn>("InitUserDLL");
    dispose = Get<DisposeUserDLLFn>("DisposeUserDLL");
    read_settings = Get<ReadFromFileFn>("ReadFromFile");
    start = Get<InitSimulationDLLFn>("InitSimulationDLL");
    step = Get<SimulateDLLFn>("SimulateDLL");
    end = Get<EndSimulationDLL2Fn>("EndSimulationDLL2");
  }
  template <class F>
  F Get(const char* name) {
    void* address = dlsym(handle, name);
    if (!address) throw std::runtime_error(std::string("the module exports no ") + name);
    return reinterpret_cast<F>(address);
  }
  void* handle;
  InitUserDLLFn init;
  DisposeUserDLLFn dispose;
  ReadFromFileFn read_settings;
  InitSimulationDLLFn start;
  SimulateDLLFn step;
  EndSimulationDLL2Fn end;
};

enum class Pins { kPinTwo, kDefault };

// One running block configured through a settings block, as a host loads a
// project.
class Block {
 public:
  // kind 0 is UDP to address:udp_port, kind 1 the serial port com_port.
  Block(Library& library, int kind, int com_port, const std::string& address, int udp_port,
        Pins pins)
      : library_(library), record_(8192, 0), inputs_(80, 0), outputs_(140, 0) {
    library_.init(record_.data());
    std::string text = std::to_string(kind) + "\r\n" + std::to_string(com_port) + "\r\n115200\r\n" +
                       address + "\r\n" + std::to_string(udp_port) + "\r\n";
    // Pin 2 alone makes one exchange per step; the default pins, all analog
    // inputs included, make 14.
    const char* modes =
        pins == Pins::kPinTwo ? "1 0 0 0 0 0 0 0 0 0 0 0 0 0" : "1 1 1 1 2 2 2 2 1 1 1 1 1 1";
    for (const char* m = modes; *m; ++m) {
      if (*m != ' ') text += std::string(1, *m) + "\r\n";
    }
    int fd = memfd_create("settings", 0);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      throw std::runtime_error("cannot write the settings block");
    }
    lseek(fd, 0, SEEK_SET);
    library_.read_settings(static_cast<uint32_t>(fd), record_.data());
    close(fd);
    library_.start(record_.data(), inputs_.data(), outputs_.data());
  }
  ~Block() {
    library_.end(record_.data());
    library_.dispose(record_.data());
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  void Step() { library_.step(Lead12{}, record_.data(), inputs_.data(), outputs_.data()); }

 private:
  Library& library_;
  std::vector<uint8_t> record_, inputs_, outputs_;
};

// The raw UDP client: a connected socket, one datagram out, one back.
class RawUdpPeer {
 public:
  explicit RawUdpPeer(uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      throw std::runtime_error("raw UDP client: cannot connect to the board");
    }
  }
  ~RawUdpPeer() { close(fd_); }
  RawUdpPeer(const RawUdpPeer&) = delete;
  RawUdpPeer& operator=(const RawUdpPeer&) = delete;

  void Exchange() {
    char reply[64];
    if (send(fd_, "?02s?", 5, 0) != 5 || recv(fd_, reply, sizeof reply, 0) <= 0) {
      throw std::runtime_error("raw UDP exchange failed");
    }
  }

 private:
  int fd_;
};

// The raw serial client makes the calls any client of the serial link must
// make: a write of its own for each byte of the command, and a read of its
// own for each byte of the reply up to its line feed, each read bounded by a
// 10 ms wait when no byte is there yet, and the whole reply by a second.
// What the library adds to that is its own work, above all the pump pass
// after every byte.
class RawPtyPeer {
 public:
  explicit RawPtyPeer(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) {
      throw std::runtime_error("raw serial client: cannot open " + path);
    }
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~RawPtyPeer() { close(fd_); }
  RawPtyPeer(const RawPtyPeer&) = delete;
  RawPtyPeer& operator=(const RawPtyPeer&) = delete;

  void Exchange() {
    for (char c : std::string_view("?02s?")) {
      if (write(fd_, &c, 1) != 1) throw std::runtime_error("raw serial write failed");
    }
    char c = 0;
    int waits = 0;
    while (c != '\n') {
      if (read(fd_, &c, 1) == 1) continue;
      if (++waits > 100) throw std::runtime_error("raw serial client: no reply within a second");
      pollfd watch{fd_, POLLIN, 0};
      poll(&watch, 1, 10);
    }
  }

 private:
  int fd_;
};

// A UDP port on loopback where nothing ever answers.
class SilentUdpPeer {
 public:
  SilentUdpPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      throw std::runtime_error("cannot bind a silent UDP port");
    }
    port_ = ntohs(local.sin_port);
  }
  ~SilentUdpPeer() { close(fd_); }
  SilentUdpPeer(const SilentUdpPeer&) = delete;
  SilentUdpPeer& operator=(const SilentUdpPeer&) = delete;
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// Runs pairs of one raw exchange and one library exchange and keeps the wall
// and CPU time of each.  The order flips from pair to pair, so that neither
// side always runs right after the other has woken the board.
bench::Alternation Alternate(int pairs, const std::function<void()>& raw,
                             const std::function<void()>& library) {
  bench::Alternation samples;
  auto timed = [](const std::function<void()>& exchange, std::vector<double>* wall,
                  std::vector<double>* cpu) {
    double cpu_start = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
    double wall_start = Microseconds(CLOCK_MONOTONIC);
    exchange();
    double wall_end = Microseconds(CLOCK_MONOTONIC);
    double cpu_end = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
    if (wall) {
      wall->push_back(wall_end - wall_start);
      cpu->push_back(cpu_end - cpu_start);
    }
  };
  for (int i = 0; i < kWarmUpPairs; ++i) {
    timed(raw, nullptr, nullptr);
    timed(library, nullptr, nullptr);
  }
  for (int i = 0; i < pairs; ++i) {
    if (i % 2 == 0) timed(raw, &samples.raw_wall, &samples.raw_cpu);
    timed(library, &samples.library_wall, &samples.library_cpu);
    if (i % 2 == 1) timed(raw, &samples.raw_wall, &samples.raw_cpu);
  }
  return samples;
}

void MeasureUdpExchange(Library& library, const std::string& boardsim, int count,
                        bench::Report& report) {
  Board board(boardsim, {"--udp", "127.0.0.1:0"});
  RawUdpPeer raw(board.udp_port());
  Block block(library, 0, 1, "127.0.0.1", board.udp_port(), Pins::kPinTwo);
  bench::Added added = bench::Compare(Alternate(
      count, [&] { raw.Exchange(); }, [&] { block.Step(); }));
  report.Rows("udp", "UDP", added, "the bench's own socket", "SimulateDLL, one used pin");
  report.Hold("udp_added_wall_us", added.added_wall.median);
  report.Hold("udp_added_cpu_us", added.added_cpu.median);
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

void MeasureUdpStep(Library& library, const std::string& boardsim, int count,
                    bench::Report& report) {
  Board board(boardsim, {"--udp", "127.0.0.1:0"});
  Block block(library, 0, 1, "127.0.0.1", board.udp_port(), Pins::kDefault);
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
void MeasurePtyExchange(Library& library, const std::string& boardsim, int count,
                        bench::Report& report) {
  std::string tty = "/tmp/exchange_bench_tty_" + std::to_string(getpid());
  Board board(boardsim, {"--pty", tty});
  RawPtyPeer raw(tty);
  setenv("ARDUINO_BLOCK_COM9", tty.c_str(), 1);
  Block block(library, 1, kComPort, "", 0, Pins::kPinTwo);
  bench::Added added = bench::Compare(Alternate(
      count, [&] { raw.Exchange(); }, [&] { block.Step(); }));
  report.Rows("pty", "pty", added, "a write per command byte, a read per reply byte",
              "SimulateDLL, one used pin");
  report.Hold("pty_added_wall_us", added.added_wall.median);
  report.Hold("pty_added_cpu_us", added.added_cpu.median);
}

void MeasurePtyStep(Library& library, const std::string& boardsim, int count,
                    bench::Report& report) {
  std::string tty = "/tmp/exchange_bench_tty_" + std::to_string(getpid());
  Board board(boardsim, {"--pty", tty});
  setenv("ARDUINO_BLOCK_COM9", tty.c_str(), 1);
  Block block(library, 1, kComPort, "", 0, Pins::kDefault);
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

void MeasureSilentUdpWait(Library& library, bench::Report& report) {
  SilentUdpPeer silent;
  Block block(library, 0, 1, "127.0.0.1", silent.port(), Pins::kPinTwo);
  report.Hold("udp_silent_cpu_percent", 100 * SilentCpuShare(block, 20));
}

void MeasureSilentSerialWait(Library& library, bench::Report& report) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    throw std::runtime_error("cannot open a pseudo-terminal");
  }
  setenv("ARDUINO_BLOCK_COM9", ptsname(master), 1);
  {
    Block block(library, 1, kComPort, "", 0, Pins::kPinTwo);
    report.Hold("serial_silent_cpu_percent", 100 * SilentCpuShare(block, 3));
  }
  close(master);
}

void MeasureRssGrowth(Library& library, const std::string& boardsim, bench::Report& report) {
  Board board(boardsim, {"--udp", "127.0.0.1:0"});
  Block block(library, 0, 1, "127.0.0.1", board.udp_port(), Pins::kPinTwo);
  for (int i = 0; i < 10000; ++i) block.Step();
  long before = ResidentKiB();
  for (int i = 0; i < 100000; ++i) block.Step();
  report.Hold("rss_growth_kib", static_cast<double>(ResidentKiB() - before));
}

void WriteReport(const bench::Report& report, const std::string& out_dir, int count) {
  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string preamble = "Measured natively by `./run bench` on " + bench::TodayUtc() + ", " +
                         std::to_string(cores) +
                         " cores, an optimised build, against `boardsim` on the same machine: " +
                         std::to_string(count) +
                         " pairs of one raw and one library exchange, taking turns, and a tenth "
                         "as many whole steps.";
  std::string markdown = report.Markdown(preamble);
  std::cout << markdown;
  std::ofstream(out_dir + "/native.md") << markdown;
  std::ofstream(out_dir + "/native.json") << report.Json(host, static_cast<int>(cores), count);
}

}  // namespace

int main(int argc, char** argv) {
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
  try {
    Library library(module);
    MeasureUdpExchange(library, boardsim, count, report);
    MeasureUdpStep(library, boardsim, count, report);
    MeasurePtyExchange(library, boardsim, count, report);
    MeasurePtyStep(library, boardsim, count, report);
    MeasureSilentUdpWait(library, report);
    MeasureSilentSerialWait(library, report);
    MeasureRssGrowth(library, boardsim, report);
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
