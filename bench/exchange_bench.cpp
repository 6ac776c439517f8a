// Measures, in one run on one machine, the raw round trip of each transport
// (a minimal client of our own against boardsim) and the library's exchange
// through its exports, and checks the library against its targets.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "arduino_block.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Stats {
  double median = 0, p99 = 0;
};

Stats Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// A boardsim child process; its start-up line tells where it listens.
class Board {
 public:
  Board(const std::string& path, std::vector<std::string> args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start " + path);
    }
    close(pipe_fds[1]);
    char c;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') startup_ += c;
    stderr_ = pipe_fds[0];
  }
  ~Board() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    close(stderr_);
  }
  const std::string& startup() const { return startup_; }
  uint16_t udp_port() const { return static_cast<uint16_t>(std::stoi(startup_.substr(startup_.rfind(':') + 1))); }

 private:
  pid_t pid_ = 0;
  int stderr_ = -1;
  std::string startup_;
};

// The module, driven only through its exports.
struct Library {
  explicit Library(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW);
    if (!handle) throw std::runtime_error(dlerror());
    init = reinterpret_cast<InitUserDLLFn>(dlsym(handle, "InitUserDLL"));
    dispose = reinterpret_cast<DisposeUserDLLFn>(dlsym(handle, "DisposeUserDLL"));
    read_settings = reinterpret_cast<ReadFromFileFn>(dlsym(handle, "ReadFromFile"));
    start = reinterpret_cast<InitSimulationDLLFn>(dlsym(handle, "InitSimulationDLL"));
    step = reinterpret_cast<SimulateDLLFn>(dlsym(handle, "SimulateDLL"));
    end = reinterpret_cast<EndSimulationDLL2Fn>(dlsym(handle, "EndSimulationDLL2"));
  }
  void* handle;
  InitUserDLLFn init;
  DisposeUserDLLFn dispose;
  ReadFromFileFn read_settings;
  InitSimulationDLLFn start;
  SimulateDLLFn step;
  EndSimulationDLL2Fn end;
};

// One block configured through a settings block, as a host loads it.
class Block {
 public:
  Block(Library& library, int kind, int com_port, const std::string& address, int udp_port,
        int used_pins)
      : library_(library), record_(8192, 0), inputs_(80, 0), outputs_(140, 0) {
    library_.init(record_.data());
    std::string text = std::to_string(kind) + "\r\n" + std::to_string(com_port) + "\r\n115200\r\n" +
                       address + "\r\n" + std::to_string(udp_port) + "\r\n";
    // used_pins 1: pin 2 only; 14: the default pins and all analog inputs.
    const char* pins = used_pins == 1 ? "1 0 0 0 0 0 0 0 0 0 0 0 0 0" : "1 1 1 1 2 2 2 2 1 1 1 1 1 1";
    std::istringstream modes(pins);
    std::string mode;
    while (modes >> mode) text += mode + "\r\n";
    int fd = memfd_create("settings", 0);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) throw std::runtime_error("memfd");
    lseek(fd, 0, SEEK_SET);
    library_.read_settings(static_cast<uint32_t>(fd), record_.data());
    close(fd);
    library_.start(record_.data(), inputs_.data(), outputs_.data());
  }
  ~Block() {
    library_.end(record_.data());
    library_.dispose(record_.data());
  }
  void Step() { library_.step(Lead12{}, record_.data(), inputs_.data(), outputs_.data()); }

 private:
  Library& library_;
  std::vector<uint8_t> record_, inputs_, outputs_;
};

std::vector<double> Time(int count, const std::function<void()>& body) {
  std::vector<double> samples;
  samples.reserve(count);
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    body();
    samples.push_back(MicrosecondsSince(start));
  }
  return samples;
}

std::vector<double> RawUdp(uint16_t port, int count) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  char reply[64];
  auto samples = Time(count, [&] {
    if (send(fd, "?02s?", 5, 0) != 5 || recv(fd, reply, sizeof reply, 0) <= 0) throw std::runtime_error("raw udp");
  });
  close(fd);
  return samples;
}

std::vector<double> RawPty(const std::string& path, int count) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  termios settings{};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  auto samples = Time(count, [&] {
    if (write(fd, "?02s?", 5) != 5) throw std::runtime_error("raw pty");
    char c = 0;
    while (c != '\n') {
      if (read(fd, &c, 1) != 1) throw std::runtime_error("raw pty read");
    }
  });
  close(fd);
  return samples;
}

struct Result {
  std::string name;
  Stats stats;
  std::string note;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: exchange_bench BOARDSIM MODULE OUT_DIR [COUNT]\n";
    return 1;
  }
  std::string boardsim = argv[1], module = argv[2], out_dir = argv[3];
  int count = argc > 4 ? std::stoi(argv[4]) : 10000;
  Library library(module);
  std::vector<Result> results;
  std::vector<std::string> failures;
  auto check = [&](const std::string& what, double value, double limit) {
    if (value > limit) failures.push_back(what + ": " + std::to_string(value) + " > " + std::to_string(limit));
  };

  // UDP.
  Board udp_board(boardsim, {"--udp", "127.0.0.1:0"});
  uint16_t port = udp_board.udp_port();
  // Raw and library rounds alternate, so that a change in the machine's
  // load during the run weighs on both alike.
  Stats raw_udp, lib_udp, step_udp;
  {
    Block block(library, 0, 1, "127.0.0.1", port, 1);
    Block full(library, 0, 1, "127.0.0.1", port, 14);
    std::vector<double> raw, lib, step;
    for (int round = 0; round < 10; ++round) {
      auto raw_round = RawUdp(port, count / 10);
      auto lib_round = Time(count / 10, [&] { block.Step(); });
      auto step_round = Time(count / 100, [&] { full.Step(); });
      raw.insert(raw.end(), raw_round.begin(), raw_round.end());
      lib.insert(lib.end(), lib_round.begin(), lib_round.end());
      step.insert(step.end(), step_round.begin(), step_round.end());
    }
    raw_udp = Summarise(raw);
    lib_udp = Summarise(lib);
    step_udp = Summarise(step);
  }
  results.push_back({"UDP raw round trip", raw_udp, "bench's own socket"});
  results.push_back({"UDP library exchange", lib_udp, "SimulateDLL, one used pin"});
  results.push_back({"UDP default step (14 exchanges)", step_udp, ""});
  check("UDP library/raw exchange", lib_udp.median / raw_udp.median, 1.10);
  check("UDP default step / 14 raw", step_udp.median / (14 * raw_udp.median), 1.15);

  // Pseudo-terminal.  The raw client and the library each get a board of
  // their own, so that their rounds can alternate like the UDP ones.
  std::string tty = "/tmp/exchange_bench_tty_" + std::to_string(getpid());
  std::string raw_tty = tty + "_raw";
  Stats raw_pty, lib_pty, step_pty;
  {
    Board pty_board(boardsim, {"--pty", tty});
    Board raw_board(boardsim, {"--pty", raw_tty});
    setenv("ARDUINO_BLOCK_COM9", tty.c_str(), 1);
    {
      Block block(library, 1, 9, "", 0, 1);
      std::vector<double> raw, lib;
      for (int round = 0; round < 10; ++round) {
        auto raw_round = RawPty(raw_tty, count / 10);
        auto lib_round = Time(count / 10, [&] { block.Step(); });
        raw.insert(raw.end(), raw_round.begin(), raw_round.end());
        lib.insert(lib.end(), lib_round.begin(), lib_round.end());
      }
      raw_pty = Summarise(raw);
      lib_pty = Summarise(lib);
    }
    {
      Block block(library, 1, 9, "", 0, 14);
      step_pty = Summarise(Time(count / 10, [&] { block.Step(); }));
    }
  }
  results.push_back({"pty raw round trip", raw_pty, "read to the line feed"});
  results.push_back({"pty library exchange", lib_pty, "one read call per byte"});
  results.push_back({"pty default step (14 exchanges)", step_pty, ""});
  check("pty library/raw exchange", lib_pty.median / raw_pty.median, 1.5);

  // Silent boards: the processor time a wait costs.
  double udp_cpu_share, serial_cpu_share;
  {
    int silent = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(silent, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(silent, reinterpret_cast<sockaddr*>(&local), &length);
    Block block(library, 0, 1, "127.0.0.1", ntohs(local.sin_port), 1);
    double cpu = CpuSeconds();
    auto start = Clock::now();
    for (int i = 0; i < 20; ++i) block.Step();
    udp_cpu_share = (CpuSeconds() - cpu) / (MicrosecondsSince(start) / 1e6);
    close(silent);
  }
  {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    setenv("ARDUINO_BLOCK_COM9", ptsname(master), 1);
    Block block(library, 1, 9, "", 0, 1);
    double cpu = CpuSeconds();
    auto start = Clock::now();
    for (int i = 0; i < 3; ++i) block.Step();
    serial_cpu_share = (CpuSeconds() - cpu) / (MicrosecondsSince(start) / 1e6);
    close(master);
  }
  check("CPU share of a silent UDP wait", udp_cpu_share, 0.05);
  check("CPU share of a silent serial wait", serial_cpu_share, 0.05);

  // Memory over a long run.
  long rss_before, rss_after;
  {
    Block block(library, 0, 1, "127.0.0.1", port, 1);
    for (int i = 0; i < 10000; ++i) block.Step();
    rss_before = ResidentKiB();
    for (int i = 0; i < 100000; ++i) block.Step();
    rss_after = ResidentKiB();
  }
  check("resident memory growth over 100,000 steps (KiB)", static_cast<double>(rss_after - rss_before), 256);

  char date[32];
  time_t now = time(nullptr);
  strftime(date, sizeof date, "%Y-%m-%d", gmtime(&now));
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  long cores = sysconf(_SC_NPROCESSORS_ONLN);

  std::ostringstream table;
  table << "| measurement | median µs | p99 µs | note |\n|---|---:|---:|---|\n";
  char row[256];
  for (const auto& r : results) {
    snprintf(row, sizeof row, "| %s | %.1f | %.1f | %s |\n", r.name.c_str(), r.stats.median, r.stats.p99, r.note.c_str());
    table << row;
  }
  std::ostringstream ratios;
  snprintf(row, sizeof row,
           "| UDP library/raw exchange | %.3f | ≤ 1.10 |\n| UDP default step / 14 raw | %.3f | ≤ 1.15 |\n"
           "| pty library/raw exchange | %.3f | ≤ 1.5 |\n",
           lib_udp.median / raw_udp.median, step_udp.median / (14 * raw_udp.median),
           lib_pty.median / raw_pty.median);
  ratios << "| ratio | measured | target |\n|---|---:|---|\n" << row;
  snprintf(row, sizeof row,
           "| CPU share, silent UDP wait | %.2f %% | ≤ 5 %% |\n| CPU share, silent serial wait | %.2f %% | ≤ 5 %% |\n"
           "| RSS growth over 100,000 steps | %ld KiB | none (≤ 256 KiB noise) |\n",
           udp_cpu_share * 100, serial_cpu_share * 100, rss_after - rss_before);
  ratios << row;

  std::cout << table.str() << "\n" << ratios.str();
  std::ofstream md(out_dir + "/benchmarks.md");
  md << "# Benchmarks\n\nMeasured by `./run bench` on " << date << ", " << cores
     << " cores, an optimised build, against `boardsim` on the same machine; " << count
     << " exchanges per measurement (a tenth of that for whole steps).\n\n"
     << table.str() << "\n" << ratios.str() << "\n";
  std::ifstream context(out_dir + "/benchmarks-context.md");
  if (context) md << context.rdbuf();
  std::ofstream json(out_dir + "/benchmarks.json");
  json << "{\n  \"date\": \"" << date << "\",\n  \"host\": \"" << host << "\",\n  \"cores\": " << cores
       << ",\n  \"count\": " << count << ",\n  \"median_us\": {\"udp_raw\": " << raw_udp.median
       << ", \"udp_library\": " << lib_udp.median << ", \"udp_default_step\": " << step_udp.median
       << ", \"pty_raw\": " << raw_pty.median << ", \"pty_library\": " << lib_pty.median
       << ", \"pty_default_step\": " << step_pty.median << "},\n  \"p99_us\": {\"udp_raw\": " << raw_udp.p99
       << ", \"udp_library\": " << lib_udp.p99 << ", \"pty_raw\": " << raw_pty.p99
       << ", \"pty_library\": " << lib_pty.p99 << "},\n  \"cpu_share\": {\"udp_silent\": " << udp_cpu_share
       << ", \"serial_silent\": " << serial_cpu_share << "},\n  \"rss_growth_kib\": " << (rss_after - rss_before)
       << "\n}\n";

  if (!failures.empty()) {
    std::cerr << "\ntargets missed:\n";
    for (const auto& f : failures) std::cerr << "  " << f << "\n";
    return 1;
  }
  std::cout << "\nall targets met\n";
  return 0;
}
