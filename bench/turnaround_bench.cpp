// Measures the board's own turnaround, in the simulated chip's time: the
// real firmware in avrboard, the Uno and the Mega 2560 image, over serial
// and over Ethernet.  avrboard notes every exchange it sees (--exchanges):
// over Ethernet from the datagram landing in the W5100's receive memory to
// the SEND command of the reply, over serial from the last byte of the
// command reaching the chip to the first byte of the reply leaving it.  The
// bench sends each kind of command many times and reports the median and
// the spread of each kind.
//
//   turnaround_bench AVRBOARD FIRMWARE_DIR OUT_DIR [COUNT]
//
// writes OUT_DIR/turnaround.md and OUT_DIR/turnaround.json.  A row whose
// image is missing is reported as not measured, with the reason; the bench
// fails when a row that could run did not.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "avr_bench_board.h"
#include "bench_report.h"
#include "child_process.h"
#include "firmware_images.h"
#include "serial_client.h"
#include "udp_peer.h"

namespace {

using harness::ChildProcess;
using harness::SerialClient;
using harness::UdpPeer;
using std::chrono::milliseconds;

// Each board's image at 9600 baud and its Ethernet image.
using Row = harness::BoardImage;
using harness::FindBoardImage;
using harness::ImageLink;
const Row kRows[] = {FindBoardImage("uno", ImageLink::kSerial, 9600),
                     FindBoardImage("uno", ImageLink::kEthernet),
                     FindBoardImage("mega2560", ImageLink::kSerial, 9600),
                     FindBoardImage("mega2560", ImageLink::kEthernet)};

// One command of each kind the block sends, with the pin set up for it
// first.  The kinds are told apart by their first bytes.
struct Kind {
  const char* name;
  const char* command;
};
const Kind kKinds[] = {{"read digital", "?07s?"},
                       {"read analog", "?14s?"},
                       {"write", "!03s1"},
                       {"pwm", "pwm05"},
                       {"w", "w0512"}};
const char* const kSetUp[] = {"!07mi", "!14mi", "!03mo"};

std::string KindOf(const std::string& command) {
  for (const Kind& kind : kKinds) {
    if (command.compare(0, 2, kind.command, 2) == 0) return kind.name;
  }
  return "";
}

struct Spread {
  size_t count = 0;
  double median_us = 0;
  double low_us = 0;
  double high_us = 0;
};

Spread SpreadOf(std::vector<double> values) {
  Spread spread;
  spread.count = values.size();
  if (values.empty()) return spread;
  std::sort(values.begin(), values.end());
  spread.median_us = values[values.size() / 2];
  spread.low_us = values.front();
  spread.high_us = values.back();
  return spread;
}

// The turnarounds avrboard noted, by kind: lines of
// "udp|serial TURNAROUND_US COMMAND -> REPLY".
std::map<std::string, std::vector<double>> ReadExchanges(const std::string& path) {
  std::map<std::string, std::vector<double>> by_kind;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string link, command;
    double turnaround_us = 0;
    if (!(fields >> link >> turnaround_us >> command)) continue;
    const std::string kind = KindOf(command);
    if (!kind.empty()) by_kind[kind].push_back(turnaround_us);
  }
  return by_kind;
}

// Sends every command `count` times and checks each reply came.
class Client {
 public:
  virtual ~Client() = default;
  virtual std::optional<std::string> Ask(const std::string& command) = 0;
};

class UdpClient : public Client {
 public:
  explicit UdpClient(uint16_t port) { peer_.Connect(port); }
  std::optional<std::string> Ask(const std::string& command) override {
    peer_.Send(command);
    return peer_.Receive(milliseconds(1000));
  }

 private:
  UdpPeer peer_;
};

class PtyClient : public Client {
 public:
  explicit PtyClient(const std::string& path) : line_(path) {
    // Opening the port resets the board, as on an Uno; give the firmware
    // its start.
    std::this_thread::sleep_for(milliseconds(500));
  }
  bool valid() const { return line_.valid(); }
  std::optional<std::string> Ask(const std::string& command) override {
    line_.Write(command);
    std::string reply = line_.ReadUntil("\n", milliseconds(2000));
    if (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\r\n") != 0) return std::nullopt;
    return reply.substr(0, reply.size() - 2);
  }

 private:
  SerialClient line_;
};

struct RowResult {
  const Row* row;
  std::string why_not;  // empty when measured
  std::map<std::string, Spread> kinds;
};

RowResult MeasureRow(const Row& row, const std::string& avrboard, const std::string& firmware_dir,
                     int count) {
  RowResult result{&row, "", {}};
  const bench::FirmwareImage image = bench::FindImage(
      firmware_dir, row.Name(),
      (row.link == ImageLink::kEthernet) ? "set ARDUINO_ETHERNET_LIBRARY for firmware/build.sh"
                                         : "firmware/build.sh builds it");
  if (!image.why_not.empty()) {
    result.why_not = image.why_not;
    return result;
  }
  std::vector<std::string> extra = {"--pin", "7=high", "--adc", "A0=512"};
  if (row.link == ImageLink::kEthernet) extra.insert(extra.end(), {"--ethernet", "127.0.0.1:0"});
  bench::AvrBenchBoard board(avrboard, row.mcu, image.path, extra);
  const std::string& exchanges = board.exchanges();

  std::unique_ptr<Client> client;
  if (row.link == ImageLink::kEthernet) {
    // The firmware answers once it has set up the chip.
    ChildProcess& process = board.process();
    if (!process.WaitForStderr("the W5100 was given address", milliseconds(15000))) {
      throw std::runtime_error("the firmware never set up the W5100: " + process.stderr_text());
    }
    client = std::make_unique<UdpClient>(process.udp_port());
  } else {
    auto pty = std::make_unique<PtyClient>(board.tty());
    if (!pty->valid()) throw std::runtime_error("cannot open avrboard's terminal");
    client = std::move(pty);
  }
  for (const char* command : kSetUp) {
    if (!client->Ask(command)) throw std::runtime_error(std::string("no reply to ") + command);
  }
  for (int i = 0; i < count; ++i) {
    for (const Kind& kind : kKinds) {
      if (!client->Ask(kind.command)) {
        throw std::runtime_error(std::string("no reply to ") + kind.command);
      }
    }
  }
  client.reset();
  board.Stop();
  for (auto& [kind, values] : ReadExchanges(exchanges)) result.kinds[kind] = SpreadOf(values);
  for (const Kind& kind : kKinds) {
    if (result.kinds[kind.name].count < static_cast<size_t>(count)) {
      throw std::runtime_error(std::string("avrboard noted too few exchanges of ") + kind.name +
                               " in " + exchanges);
    }
  }
  return result;
}

std::string Format(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

void Write(const std::vector<RowResult>& results, const std::string& out_dir, int count) {
  std::ofstream md(out_dir + "/turnaround.md");
  md << "The board's own turnaround in the simulated chip's time (16 MHz), the median of " << count
     << " exchanges of each kind, with the lowest and highest in brackets, in µs. "
     << "Ethernet: from the datagram landing in the W5100's receive memory to the SEND "
        "command of the reply. Serial: from the last byte of the command to the first byte "
        "of the reply.\n\n";
  md << "| Board | Link |";
  for (const Kind& kind : kKinds) md << " " << kind.name << " |";
  md << "\n|---|---|";
  for (size_t i = 0; i < std::size(kKinds); ++i) md << "---:|";
  md << "\n";
  std::vector<std::string> rows;
  for (const RowResult& result : results) {
    const char* link =
        result.row->link == ImageLink::kEthernet ? "Ethernet (W5100)" : "serial 9600 baud";
    md << "| " << result.row->board << " | " << link << " |";
    bench::JsonObject row;
    row.Text("board", result.row->board)
        .Text("link", result.row->link == ImageLink::kEthernet ? "ethernet" : "serial");
    if (!result.why_not.empty()) {
      md << " not measured: " << result.why_not << " |";
      for (size_t i = 1; i < std::size(kKinds); ++i) md << " |";
      md << "\n";
      rows.push_back(row.Text("not_measured", result.why_not).str());
      continue;
    }
    bench::JsonObject kinds;
    for (const Kind& kind : kKinds) {
      const Spread& spread = result.kinds.at(kind.name);
      md << " " << Format(spread.median_us) << " (" << Format(spread.low_us) << "–"
         << Format(spread.high_us) << ") |";
      kinds.Json(kind.name, bench::JsonObject()
                                .Number("median", spread.median_us, "%.1f")
                                .Number("low", spread.low_us, "%.1f")
                                .Number("high", spread.high_us, "%.1f")
                                .Number("count", static_cast<double>(spread.count), "%.0f")
                                .str());
    }
    rows.push_back(row.Json("turnaround_us", kinds.str()).str());
    md << "\n";
  }
  std::ofstream(out_dir + "/turnaround.json") << bench::JsonArray(rows);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::cerr << "usage: turnaround_bench AVRBOARD FIRMWARE_DIR OUT_DIR [COUNT]\n";
    return 2;
  }
  const int count = argc == 5 ? std::atoi(argv[4]) : 100;
  if (count <= 0) {
    std::cerr << "turnaround_bench: COUNT must be a positive number\n";
    return 2;
  }
  std::vector<RowResult> results;
  int status = 0;
  for (const Row& row : kRows) {
    std::cerr << "turnaround_bench: " << row.board
              << ((row.link == ImageLink::kEthernet) ? " over Ethernet" : " serial") << "..."
              << std::endl;
    try {
      results.push_back(MeasureRow(row, argv[1], argv[2], count));
      if (!results.back().why_not.empty()) {
        std::cerr << "turnaround_bench: not measured: " << results.back().why_not << "\n";
      }
    } catch (const std::exception& error) {
      std::cerr << "turnaround_bench: " << error.what() << "\n";
      results.push_back({&row, std::string("failed: ") + error.what(), {}});
      status = 1;
    }
  }
  Write(results, argv[3], count);
  std::ifstream md(std::string(argv[3]) + "/turnaround.md");
  std::cout << md.rdbuf();
  return status;
}
