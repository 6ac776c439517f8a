// The library against the real firmware on simulated silicon.  Each row is
// one image on one link: the Uno image runs in avrboard on a simulated
// ATmega328P and the Mega 2560 image on an ATmega2560, reached over the
// serial link (ARDUINO_BLOCK_COM7 names avrboard's terminal) or over
// Ethernet (the real Arduino Ethernet library on avrboard's W5100, bridged
// to a UDP port on 127.0.0.1).  avrboard's log shows what the chip's pins
// did.  The pins are the board's Arduino pin numbers, which sit on other
// ports of the two chips, so the same test bodies check both pin maps.
//
// A row's tests share one avrboard, started with the inputs of all of them:
// each row is a test suite of its own, and CTest runs one process per row.
// The board starts as one from the shop does, with only its bootloader, and
// the row's first use writes the image with `blockhost flash` and avrdude
// (whose verify then passes for every image the release ships) and meets it
// with `blockhost run`.  A serial row's board then goes on from its flash
// without the bootloader (see GoOnWithoutTheBootloader).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "exchange_log.h"
#include "files.h"
#include "firmware_images.h"
#include "host/simulation.h"
#include "link/exchange.h"
#include "link/serial.h"
#include "pace_meter.h"
#include "rerun_when_behind.h"
#include "test_support.h"
#include "udp_peer.h"

namespace arduino {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::HostBlock;
using testing::ValueArray;

constexpr int kComPort = 7;

using Link = harness::ImageLink;

// One image on one link, from the harness's table of the images: avrboard's
// chip for it, its link and, for a serial image, the speed it was built for
// (the block is set to the same).  The pins that a timer channel drives
// differ between the boards.
struct Row : harness::BoardImage {
  std::vector<int> pwm_pins;  // of 2..9
  std::string Image() const { return Elf(FIRMWARE_DIR); }
  // What `blockhost flash` writes, from the same build as the ELF.
  std::string Hex() const { return std::string(FIRMWARE_DIR) + "/" + Name() + ".hex"; }
  bool IsUno() const { return std::string(folder) == "uno"; }
  // The bootloader the board is sold with; "" when this build has none.
  std::string Bootloader() const { return IsUno() ? UNO_BOOTLOADER : MEGA_BOOTLOADER; }
  // blockhost's --board: a pseudo-terminal has no USB identity to tell it.
  const char* FlashBoard() const { return IsUno() ? "uno" : "mega2560"; }
};
const std::vector<int> kUnoPwmPins = {3, 5, 6, 9};
const std::vector<int> kMegaPwmPins = {2, 3, 4, 5, 6, 7, 8, 9};
Row MakeRow(const char* folder, Link link, int32_t baud, const std::vector<int>& pwm_pins) {
  return Row{harness::FindBoardImage(folder, link, baud), pwm_pins};
}
const Row kUnoSerial9600 = MakeRow("uno", Link::kSerial, 9600, kUnoPwmPins);
const Row kUnoSerial19200 = MakeRow("uno", Link::kSerial, 19200, kUnoPwmPins);
const Row kUnoSerial38400 = MakeRow("uno", Link::kSerial, 38400, kUnoPwmPins);
const Row kUnoSerial115200 = MakeRow("uno", Link::kSerial, 115200, kUnoPwmPins);
const Row kUnoEthernet = MakeRow("uno", Link::kEthernet, 0, kUnoPwmPins);
const Row kMegaSerial9600 = MakeRow("mega2560", Link::kSerial, 9600, kMegaPwmPins);
const Row kMegaSerial19200 = MakeRow("mega2560", Link::kSerial, 19200, kMegaPwmPins);
const Row kMegaSerial38400 = MakeRow("mega2560", Link::kSerial, 38400, kMegaPwmPins);
const Row kMegaSerial115200 = MakeRow("mega2560", Link::kSerial, 115200, kMegaPwmPins);
const Row kMegaEthernet = MakeRow("mega2560", Link::kEthernet, 0, kMegaPwmPins);

// What the board's inputs are driven with, for every test of a row: levels
// on 2, 3, 7, 8 and 9, a sine on A1 and fixed voltages on the others (A3 and
// A5 stay at 0 V).
const std::vector<std::string> kRowInputs = {
    "--pin", "2=high", "--pin",  "3=low",  "--pin",  "7=high", "--pin",
    "8=low", "--pin",  "9=high", "--adc",  "A0=512", "--adc",  "A1=sine:400:500:1000",
    "--adc", "A2=700", "--adc",  "A4=1023"};

// The priority avrboard is given over the tests' other programs, where
// this process may give it.
constexpr int kBoardNice = -10;

// avrboard needs a moment to load; the shared machines need more.
constexpr auto kStartLimit = std::chrono::seconds(15);

// How long avrboard has to answer a question about its pace, and to bring
// its chip to a moment of the wall clock.  A chip the machine starved
// catches up at what the machine leaves it above real time, which on a busy
// machine is little.
constexpr auto kPaceAnswerLimit = std::chrono::seconds(10);
constexpr auto kCatchUpLimit = std::chrono::seconds(60);
// How much of its time the chip runs past a change before the tests read
// the pins' log: avrboard logs a pin at the end of the slice it changed in.
constexpr double kLogSliceMs = 1;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What the chip holds when avrboard starts: the row's image; only the
// board's bootloader, which waits for avrdude after each reset; or what an
// earlier run of the board kept in its flash file, without the bootloader.
// The flash file is dir/flash.bin.
enum class Program { kImage, kBootloaderOnly, kFlashFile };

// avrboard as a child process: the row's image (or its bootloader) with its
// USB serial on dir/ttyAVR, on Ethernet rows its W5100 on a loopback UDP
// port too, and its EEPROM in dir/eeprom.bin; on serial rows what the firmware read and
// answered in dir/exchanges.log.
class AvrBoardProcess {
 public:
  AvrBoardProcess(const Row& row, const std::string& dir, const std::vector<std::string>& inputs,
                  Program program = Program::kImage)
      : link_(dir + "/ttyAVR"), log_(dir + "/pins.log"), exchanges_(dir + "/exchanges.log") {
    std::vector<std::string> args = {"--mcu", row.mcu, "--pty", link_, "--log", log_};
    if (program == Program::kImage) {
      args.insert(args.end(), {"--firmware", row.Image()});
    } else {
      args.insert(args.end(), {"--flash", dir + "/flash.bin"});
    }
    if (program == Program::kBootloaderOnly) args.push_back("--bootloader=" + row.Bootloader());
    if (row.link == Link::kEthernet) {
      args.insert(args.end(), {"--ethernet", "127.0.0.1:0", "--eeprom", dir + "/eeprom.bin"});
    } else {
      args.insert(args.end(), {"--exchanges", exchanges_});
    }
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::optional<harness::ChildProcess> started =
        harness::TryStartAvrboard(AVRBOARD_PATH, args, &why_not_ready_, kStartLimit);
    if (!started) return;
    process_.emplace(std::move(*started));
    // The tests hold the simulation to the wall clock: the bootloader's
    // window has to end within the block's pause after opening, and a reply
    // within the block's wait.  On a machine shared with other builds it
    // falls behind unless it gets the CPU first.  Without the right to
    // raise its priority it runs as it is.
    setpriority(PRIO_PROCESS, process_->pid(), kBoardNice);
  }

  bool ready() const { return process_.has_value(); }

  // The stretch from MarkPace to the last report since: where the chip's
  // time and the wall clock stood at both ends, and the most the chip
  // trailed the wall clock in between, stops by a signal left out.
  struct PaceWindow {
    avrboard::PaceReport first;
    avrboard::PaceReport last;
    double most_behind_ms = 0;
    double stopped_ms = 0;
    double chip_ms() const { return last.chip_ms - first.chip_ms; }
  };
  // Asks avrboard how its chip kept pace since it was asked last; nothing
  // when it does not answer in time.  What it says counts in the window.
  std::optional<avrboard::PaceReport> Pace() {
    if (!process_) return std::nullopt;
    std::optional<avrboard::PaceReport> report =
        avrboard::ParsePaceReport(harness::AskAvrboardsPace(*process_, kPaceAnswerLimit));
    if (report && window_) {
      window_->last = *report;
      window_->most_behind_ms = std::max(window_->most_behind_ms, report->most_behind_ms);
      window_->stopped_ms += report->stopped_ms;
    }
    return report;
  }
  // Starts a new window; false when avrboard does not answer.
  bool MarkPace() {
    window_.reset();
    std::optional<avrboard::PaceReport> report = Pace();
    if (report) window_ = PaceWindow{*report, *report, report->behind_ms, 0};
    return report.has_value();
  }
  // The window since MarkPace up to now; nothing without a mark or an
  // answer.
  std::optional<PaceWindow> PaceSinceMark() {
    if (!window_ || !Pace()) return std::nullopt;
    return window_;
  }
  // Waits until the chip has run to `ms` past the wall clock's moment of
  // the call, and avrboard has written what it did meanwhile to its logs.
  // A chip behind the wall clock takes longer than `ms` and is waited for,
  // up to kCatchUpLimit; false when it does not get there.
  bool AwaitBoardTime(double ms) {
    std::optional<avrboard::PaceReport> now = Pace();
    if (!now) return false;
    const double until = now->wall_ms + ms;
    const auto give_up = Clock::now() + kCatchUpLimit;
    while (now->chip_ms < until) {
      if (Clock::now() > give_up) return false;
      usleep(static_cast<useconds_t>(std::clamp(until - now->chip_ms, 1.0, 50.0) * 1000));
      if (!(now = Pace())) return false;
    }
    return true;
  }
  const std::string& link() const { return link_; }
  // The bridge's port on 127.0.0.1, named at the end of the ready line.
  uint16_t udp_port() const { return process_->udp_port(); }
  std::string stderr_text() { return process_ ? process_->stderr_text() : why_not_ready_; }
  harness::ChildProcess& process() { return *process_; }

  // Ends it with SIGTERM as a person's Ctrl-C would; the exit status, or -1.
  int Stop() { return process_ ? process_->Stop(SIGTERM, std::chrono::seconds(10)) : -1; }

  // From now on PinHistory shows only what the pins do after this call.
  void MarkLog() { skip_lines_ = ReadLog().size(); }

  // The exchanges the firmware had, "<command> -> <reply>", from the
  // `first`th on.
  std::vector<std::string> Exchanges(size_t first = 0) const {
    std::ifstream in(exchanges_);
    const std::vector<avrboard::Exchange> read = avrboard::ReadExchanges(in);
    std::vector<std::string> exchanges;
    for (size_t i = first; i < read.size(); ++i) {
      exchanges.push_back(read[i].command + " -> " + read[i].reply);
    }
    return exchanges;
  }

  // Each pin's history of states since the mark, as the log has it.
  std::map<int, std::vector<std::string>> PinHistory() const { return HistoryFrom(skip_lines_); }
  // The state the log last gave `pin`, earlier tests of the row included;
  // "input" when it never changed.
  std::string PinState(int pin) const {
    const std::vector<std::string> states = HistoryFrom(0)[pin];
    return states.empty() ? "input" : states.back();
  }

 private:
  std::map<int, std::vector<std::string>> HistoryFrom(size_t first_line) const {
    std::map<int, std::vector<std::string>> history;
    const std::vector<std::string> lines = ReadLog();
    for (size_t i = first_line; i < lines.size(); ++i) {
      std::istringstream fields(lines[i]);
      std::string stamp, word, state;
      int pin = 0;
      fields >> stamp >> word >> pin;
      std::getline(fields >> std::ws, state);
      history[pin].push_back(state);
    }
    return history;
  }

  std::vector<std::string> ReadLog() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string link_;
  std::string log_;
  std::string exchanges_;
  std::string why_not_ready_;
  std::optional<harness::ChildProcess> process_;
  size_t skip_lines_ = 0;
  std::optional<PaceWindow> window_;
};

// What keeps a row from running here, or "" when nothing does.
std::string WhyRowCannotRun(const Row& row) {
  if (std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) return why;
  if (std::string(BLOCKHOST_PATH).empty()) return "blockhost was not built";
  if (std::string(AVRDUDE_PATH).empty()) {
    return "no avrdude to flash the board (apt install avrdude)";
  }
  if (row.Bootloader().empty() || access(row.Bootloader().c_str(), R_OK) != 0) {
    return "no " + std::string(row.board) + " bootloader at '" + row.Bootloader() +
           "' (the Uno's is built with avr-gcc from Debian's arduino package's optiboot source)";
  }
  if (access(row.Image().c_str(), R_OK) == 0 && access(row.Hex().c_str(), R_OK) == 0) return "";
  if (row.link == Link::kEthernet) {
    return "no Ethernet image at " + row.Hex() +
           ": firmware/build.sh builds it where it finds the Arduino Ethernet library "
           "(set ARDUINO_ETHERNET_LIBRARY)";
  }
  return "no firmware image at " + row.Hex() + "; run firmware/build.sh first";
}

// The outcome of `blockhost flash` on a row's bare board, and the project
// file it was given.
struct Flashing {
  harness::RunResult result;
  std::string project;
};

// Runs `blockhost` with `args` against the board on COM kComPort.
harness::RunResult Blockhost(std::vector<std::string> args, const std::string& link) {
  args.insert(args.begin(), BLOCKHOST_PATH);
  // avrdude's write and verify at 9600 baud take a while on a busy machine.
  return harness::RunProgram(args, {"ARDUINO_BLOCK_COM" + std::to_string(kComPort) + "=" + link},
                             std::chrono::milliseconds(240'000));
}

// Writes the row's image onto `board`, which holds only its bootloader, as a
// user does: a project file for the row's link (a serial row's speed, an
// Ethernet row's UDP port), then `blockhost flash --comport N --project F`.
// The project names the Ethernet board by a host name, which the board
// leaves alone: it cannot take a loopback address, and the check that
// follows the flash must reach the bridge on 127.0.0.1.  The project also
// says which inputs a run reads, for BlockhostRunReadsTheFlashedBoardsPins.
Flashing FlashBareBoard(const Row& row, AvrBoardProcess& board, const std::string& dir) {
  Flashing flashing;
  flashing.project = dir + "/row.project";
  std::vector<std::string> set = {
      "set",         "--lib",       ARDUINO_BLOCK_MODULE, "--project",   flashing.project,
      "pin2=input",  "pin3=input",  "pin4=unused",        "pin5=unused", "pin6=unused",
      "pin7=unused", "pin8=unused", "pin9=unused",        "a0=used",     "a1=unused",
      "a2=used",     "a3=unused",   "a4=unused",          "a5=unused"};
  if (row.link == Link::kSerial) {
    set.insert(set.end(), {"interface=usb", "comport=" + std::to_string(kComPort),
                           "baud=" + std::to_string(row.baud)});
  } else {
    set.insert(set.end(), {"interface=ethernet", "address=localhost",
                           "udpport=" + std::to_string(board.udp_port())});
  }
  flashing.result = Blockhost(set, board.link());
  if (flashing.result.exit_code != 0) return flashing;
  flashing.result =
      Blockhost({"flash", "--comport", std::to_string(kComPort), "--project", flashing.project,
                 "--board", row.FlashBoard(), "--lib", ARDUINO_BLOCK_MODULE, "--firmware-dir",
                 FIRMWARE_DIR, "--avrdude", AVRDUDE_PATH},
                board.link());
  return flashing;
}

// The row's board and what flashing it gave.  CTest runs one process per
// row, so the process has one: the row's serial or network tests use the
// same board as its common ones, and a second board would cost a second
// flash.
struct RowBoard {
  std::optional<harness::TempDir> dir;
  std::unique_ptr<AvrBoardProcess> board;
  std::optional<Flashing> flashing;
  bool has_bootloader = false;
};
RowBoard& TheRowBoard() {
  static RowBoard row;
  return row;
}

// Stops the row's board once every test of the row has run.
class RowBoardEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    RowBoard& row = TheRowBoard();
    if (!row.board) return;
    const int status = row.board->Stop();
    // The last line says whether the simulation kept up with real time.
    const std::string text = row.board->stderr_text();
    const size_t stopped = text.rfind("avrboard: stopped");
    if (stopped != std::string::npos) std::cout << text.substr(stopped);
    if (status != 0) ADD_FAILURE() << "avrboard ended with " << status << ":\n" << text;
    row.board.reset();
    row.dir.reset();
  }
};
::testing::Environment* const kRowBoardEnvironment =
    ::testing::AddGlobalTestEnvironment(new RowBoardEnvironment);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The value `blockhost run` gives `output` (as in "Pin2" or "Analog Input
// A0") under "outputs at the end", or "" when it gives none.
std::string OutputAtTheEnd(const std::string& summary, const std::string& output) {
  const std::string key = "  out " + output + " ";
  const size_t at = summary.find(key);
  if (at == std::string::npos) return "";
  std::istringstream rest(summary.substr(at + key.size()));
  std::string value;
  rest >> value;
  return value;
}

// The block pauses 2 s after opening the port, for a real board to come up
// after the reset the opening causes, its bootloader's window included.  A
// serial row's board without its bootloader starts the firmware at once,
// and BlockhostRunReadsTheFlashedBoardsPins has already gone through the
// whole pause and the bootloader, so the other tests wait only long enough
// for avrboard to see the opening and reset the chip.  Each of them opens
// the port, and the full pause was most of a serial row's time.
constexpr useconds_t kResetSettleUs = 300 * 1000;

// Under the sanitizers the rows start from their image: the library under
// the sanitizers is what those runs are for, and the plain build proves the
// flash.  (A sanitized avrboard barely keeps up with the wall clock, so
// ./run test has them run the plain build's.)
#if HIL_START_BARE
constexpr bool kStartBare = true;
#else
constexpr bool kStartBare = false;
#endif
constexpr const char* kWhyNotBare =
    "this build's rows start from their image: the plain build proves the flash";
void ResetSettlePause(uint32_t) { usleep(kResetSettleUs); }

// How far a board may fall behind the wall clock over a case, as a share of
// the block's reply wait, before a failure of the case is put down to the
// machine.  A board that keeps pace trails it by a slice and the
// scheduler's jitter, a few milliseconds; one a quarter of the wait behind
// can make a reply miss it, once the machine's other delays add up, and the
// block then takes the reply for the next command's, as it should.
constexpr double kFellBehindShareOfWait = 0.25;

class AvrHilTest : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    const std::string why = WhyRowCannotRun(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
    PrepareBlock();
  }
  void TearDown() override { EndRun(); }

  // Runs a case's body, once more when it failed while its board fell
  // behind the wall clock (rerun_when_behind.h).
  template <typename Body>
  void RunCase(const Body& body) {
    hil::RunOnceMoreWhenBehind({
        .name = ::testing::UnitTest::GetInstance()->current_test_info()->name(),
        .body = body,
        .fell_behind_ms = [this] { return FellBehindMs(); },
        .restart =
            [this] {
              EndRun();
              PrepareBlock();
            },
        .threshold_ms = kFellBehindShareOfWait * ReplyWaitMs(),
        .log = &std::cout,
    });
  }

  // The most the board fell behind the wall clock since UseBoard, stops by
  // a signal left out, said in the log; nothing when the case used no board
  // or avrboard did not answer.
  std::optional<double> FellBehindMs() {
    RowBoard& row = TheRowBoard();
    if (!row.board || !row.board->ready()) return std::nullopt;
    const std::optional<AvrBoardProcess::PaceWindow> window = row.board->PaceSinceMark();
    if (!window) return std::nullopt;
    std::cout << "the board's chip ran " << window->chip_ms() << " ms in "
              << window->last.wall_ms - window->first.wall_ms << " ms of the wall clock, at most "
              << window->most_behind_ms << " ms behind it";
    if (window->stopped_ms > 0) std::cout << " besides " << window->stopped_ms << " ms stopped";
    std::cout << "\n";
    return window->most_behind_ms;
  }

  // A new block, set to the row's link with every pin unused.
  void PrepareBlock() {
    block_.emplace();
    inputs_ = ValueArray::Inputs();
    outputs_ = ValueArray::Outputs(-1.0L);
    started_ = false;
    for (int pin = 2; pin <= 9; ++pin) data().PinMode[pin] = pmUnused;
    data().AnalogUsed.fill(0);
    if (GetParam().link == Link::kSerial) {
      data().InterfaceKind = kInterfaceUsb;
      data().ComPort = kComPort;
      data().BaudRate = GetParam().baud;
    } else {
      data().InterfaceKind = kInterfaceEthernet;
      data().IPAddress = "127.0.0.1";
    }
  }
  // Ends what a run of the case's body began.
  void EndRun() {
    if (started_) EndSimulationDLL2(block_->record());
    started_ = false;
    if (replaced_pause_) ReplaceOpenPause(*replaced_pause_);
    replaced_pause_.reset();
    unsetenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str());
  }

  // The row's board, started bare and flashed by the row's first test;
  // where the rows start from their image, started with it.
  AvrBoardProcess& Board() {
    RowBoard& row = TheRowBoard();
    if (!row.board && !kStartBare) {
      row.board = std::make_unique<AvrBoardProcess>(GetParam(), row.dir.emplace().path(),
                                                    kRowInputs, Program::kImage);
    }
    if (!row.board) {
      row.board = std::make_unique<AvrBoardProcess>(GetParam(), row.dir.emplace().path(),
                                                    kRowInputs, Program::kBootloaderOnly);
      row.has_bootloader = true;
      if (row.board->ready()) {
        row.flashing = FlashBareBoard(GetParam(), *row.board, row.dir->path());
      }
    }
    return *row.board;
  }
  // The bootloader costs nothing over a network, where no reset comes, but
  // over serial every opening of the port restarts the board through it,
  // and its window (about 1.4 s of the board's time) then has to end within
  // the block's 2 s pause.  A simulation that falls behind the wall clock
  // on a busy machine does not end it in time, and the block's first
  // command goes to the bootloader.  So once the flash is proven, a serial
  // row's board goes on from what avrdude wrote into its flash, kept in its
  // flash file, without the bootloader: the tests that follow measure the
  // firmware, not the simulation's pace.  False when that board is not
  // there, the failure said.
  bool GoOnWithoutTheBootloader() {
    RowBoard& row = TheRowBoard();
    if (GetParam().link != Link::kSerial || !row.has_bootloader) return true;
    row.has_bootloader = false;
    const int status = row.board->Stop();
    if (status != 0) {
      ADD_FAILURE() << "the board with its bootloader ended with " << status << ":\n"
                    << row.board->stderr_text();
      return false;
    }
    row.board = std::make_unique<AvrBoardProcess>(GetParam(), row.dir->path(), kRowInputs,
                                                  Program::kFlashFile);
    if (!row.board->ready()) {
      ADD_FAILURE() << "the board did not come back from its flash file:\n"
                    << row.board->stderr_text();
      return false;
    }
    return true;
  }
  const Flashing& Flashed() { return *TheRowBoard().flashing; }

  // Points the block at the row's board, flashed, and notes where its pins'
  // history starts for this test.  Only the test of the flash itself keeps
  // the bootloader on a serial row's board.
  enum class Bootloader { kDrop, kKeep };
  void UseBoard(Bootloader bootloader = Bootloader::kDrop) {
    if (!kStartBare) {
      AvrBoardProcess& board = Board();
      ASSERT_TRUE(board.ready()) << board.stderr_text();
    } else {
      AvrBoardProcess& bare = Board();
      ASSERT_TRUE(bare.ready()) << bare.stderr_text();
      // The test of the flash asserts its exit status; the others need the
      // image written and read back.
      const harness::RunResult& flash = Flashed().result;
      const std::string image = std::filesystem::path(GetParam().Hex()).filename();
      ASSERT_TRUE(Contains(flash.out, "flashed " + image + "\n"))
          << "blockhost flash on the bare board:\n"
          << flash.out << flash.err << bare.stderr_text();
    }
    if (kStartBare && bootloader == Bootloader::kDrop) {
      // Not HasFatalFailure: RunCase holds the first run's failures back.
      if (!GoOnWithoutTheBootloader()) return;
      if (GetParam().link == Link::kSerial) replaced_pause_ = ReplaceOpenPause(&ResetSettlePause);
    }
    AvrBoardProcess& board = Board();
    // An Ethernet board answers once its firmware has set up the chip.
    if (GetParam().link == Link::kEthernet) {
      ASSERT_TRUE(board.process().WaitForStderr("the W5100 was given address", kStartLimit))
          << board.stderr_text();
    }
    PointBlockAt(board);
    // avrboard answers a pass after the last change it logged, so the mark
    // in the log is where this case begins; so is the stretch of time whose
    // pace RunCase judges.
    ASSERT_TRUE(board.MarkPace()) << "avrboard did not say how its chip keeps pace\n"
                                  << board.stderr_text();
    board.MarkLog();
  }
  void PointBlockAt(AvrBoardProcess& board) {
    if (GetParam().link == Link::kSerial) {
      setenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str(), board.link().c_str(), 1);
    } else {
      data().UdpPort = board.udp_port();
    }
  }
  // The link alone, for exchanges outside a run.
  void OpenLink() {
    if (GetParam().link == Link::kSerial) {
      OpenSerialLink(data());
      started_ = true;
      ASSERT_EQ(SerialHandleState(), SerialState::kOpen);
    } else {
      data().Udp->SetRemoteHost(data().IPAddress);
      data().Udp->SetRemotePort(data().UdpPort);
    }
  }
  // Starts the simulation; over serial this includes the pause after
  // opening.
  void Start() {
    started_ = true;
    InitSimulationDLL(block_->record(), inputs_.data(), outputs_.data());
  }
  // One step, timed.
  double Step() {
    const auto start = Clock::now();
    SimulateDLL(Lead12{}, block_->record(), inputs_.data(), outputs_.data());
    return MsSince(start);
  }
  double ReplyWaitMs() const {
    return GetParam().link == Link::kSerial ? kSerialReplyWaitMs : kUdpReplyWaitMs;
  }
  TUserData& data() { return block_->data(); }

  std::optional<HostBlock> block_;
  ValueArray inputs_ = ValueArray::Inputs();
  ValueArray outputs_ = ValueArray::Outputs(-1.0L);
  bool started_ = false;
  std::optional<OpenPause> replaced_pause_;  // the block's own, while a short one stands in
};

// The row's board began with its bootloader alone.  `blockhost flash` wrote
// the row's image, avrdude read it back, and the check met the firmware;
// then `blockhost run` on the same project reads the levels and voltages
// the board's inputs were started with.  First, so that it shows the flash.
TEST_P(AvrHilTest, BlockhostRunReadsTheFlashedBoardsPins) {
  RunCase([&] {
    if (!kStartBare) GTEST_SKIP() << kWhyNotBare;
    UseBoard(Bootloader::kKeep);
    const Row& row = GetParam();
    const harness::RunResult& flash = Flashed().result;
    EXPECT_EQ(flash.exit_code, 0) << flash.out << flash.err << Board().stderr_text();
    EXPECT_TRUE(Contains(flash.out, "flashing " + row.Hex() + " to the Arduino " + row.board +
                                        " on COM" + std::to_string(kComPort) + " ("))
        << flash.out;
    EXPECT_TRUE(Contains(flash.err, "bytes of flash verified")) << flash.err;
    EXPECT_TRUE(Contains(flash.out, "board answered 512")) << flash.out;
    if (row.link == Link::kEthernet) {
      // The address the board holds, read over USB after the flash.
      EXPECT_TRUE(Contains(flash.out, "board: address 192.168.0.121\n")) << flash.out;
    }

    const harness::RunResult run =
        Blockhost({"run", "--lib", ARDUINO_BLOCK_MODULE, "--project", Flashed().project, "--steps",
                   "2", "--period-ms", "200"},
                  Board().link());
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(OutputAtTheEnd(run.out, "Pin2"), "5") << run.out;
    EXPECT_EQ(OutputAtTheEnd(run.out, "Pin3"), "0") << run.out;
    EXPECT_EQ(OutputAtTheEnd(run.out, "Analog Input A0"), "512") << run.out;
    EXPECT_EQ(OutputAtTheEnd(run.out, "Analog Input A2"), "700") << run.out;
  });
}

TEST_P(AvrHilTest, EveryCommandIsAnsweredWithinTheReplyLimit) {
  RunCase([&] {
    UseBoard();
    OpenLink();
    const std::pair<const char*, const char*> exchanges[] = {
        {"!03mo", "OK"},          {"!03s1", "OK"},
        {"!03s0", "OK"},          {"!07mi", "OK"},
        {"?07s?", "HIGH"},        {"?08s?", "LOW"},
        {"!14mi", "OK"},          {"?14s?", "512"},
        {"?18s?", "1023"},        {"?19s?", "0"},
        {"pwm05", "OK"},          {"w0512", "OK"},
        {"!22s1", "ERR bad pin"}, {"w2000", "ERR bad value"},
        {"pwm14", "ERR bad pin"}, {"?07s?", "HIGH"},
    };
    double slowest_ms = 0;
    for (auto [command, expected] : exchanges) {
      const auto start = Clock::now();
      EXPECT_EQ(ExchangeCommand(data(), command), expected) << command;
      const double took_ms = MsSince(start);
      EXPECT_LT(took_ms, ReplyWaitMs()) << command;
      slowest_ms = std::max(slowest_ms, took_ms);
    }
    std::cout << "slowest round trip: " << slowest_ms << " ms\n";
  });
}

// A board that answers after the wait has its reply taken for the next
// command's: the block never drains the link between exchanges.  avrboard
// is stopped for longer than the wait, so the firmware answers late, as a
// busy board does.
TEST_P(AvrHilTest, ALateReplyIsTakenAsTheNextOne) {
  RunCase([&] {
    UseBoard();
    OpenLink();
    ASSERT_EQ(ExchangeCommand(data(), "?07s?"), "HIGH");
    harness::ChildProcess& board = Board().process();
    std::string during_the_stop;
    {
      // The board goes on however the block's calls end: a board left
      // stopped would fail every later case of the row.
      ASSERT_EQ(kill(board.pid(), SIGSTOP), 0);
      struct Resume {
        pid_t pid;
        ~Resume() { kill(pid, SIGCONT); }
      } resume{board.pid()};
      SendCommand(data(), "?14s?");
      usleep(static_cast<useconds_t>(ReplyWaitMs() * 1000 * 1.5));
      during_the_stop = ReceiveReply(data());
    }
    EXPECT_EQ(during_the_stop, "") << "nothing can come from a stopped board";
    // The late reply comes in before the next command goes out.  (Two
    // datagrams handled in one pass of the wait leave the later one, so a
    // reply overtaken by the next one's would not show over Ethernet.)
    usleep(500 * 1000);
    EXPECT_EQ(ExchangeCommand(data(), "?08s?"), "512") << "the late reply to ?14s?";
    // The reply to ?08s? follows within a millisecond.  A line keeps it for
    // the next command; over Ethernet it may already be handled in the same
    // wait, and a reply handled before a wait does not count in it.
    const std::string third = ExchangeCommand(data(), "?07s?");
    if (GetParam().link == Link::kSerial) {
      EXPECT_EQ(third, "LOW") << "the reply to ?08s?";
    } else {
      EXPECT_TRUE(third == "LOW" || third == "HIGH") << third;
    }
  });
}

TEST_P(AvrHilTest, DigitalAndPwmOutputsReachTheChipsPins) {
  RunCase([&] {
    UseBoard();
    data().PinMode[2] = pmDigitalOutput;
    data().PinMode[4] = pmDigitalOutput;
    for (int pin : {3, 5, 6, 9}) data().PinMode[pin] = pmPWMOutput;
    inputs_.Set(0, 5.0L);     // pin 2 high
    inputs_.Set(2, 0.0L);     // pin 4 low
    inputs_.Set(1, 100.0L);   // pin 3: 100 >> 2 = 25
    inputs_.Set(3, 512.0L);   // pin 5: 128
    inputs_.Set(4, 1000.0L);  // pin 6: 250
    inputs_.Set(7, 4.0L);     // pin 9: 1
    Start();
    inputs_.Set(0, 0.0L);
    inputs_.Set(2, 3.3L);
    inputs_.Set(1, 800.0L);   // pin 3: 200
    inputs_.Set(7, 1023.0L);  // pin 9: 255, which the core drives as plain high
    EXPECT_LT(Step(), 8 * ReplyWaitMs());
    ASSERT_TRUE(Board().AwaitBoardTime(kLogSliceMs)) << "the board's log fell behind";

    AvrBoardProcess& board = Board();
    auto history = board.PinHistory();
    ASSERT_GE(history[2].size(), 2u);
    EXPECT_EQ(std::vector<std::string>(history[2].end() - 2, history[2].end()),
              (std::vector<std::string>{"high", "low"}))
        << "driven high, then low";
    EXPECT_EQ(board.PinState(4), "high");
    EXPECT_EQ(board.PinState(3), "pwm 200");
    EXPECT_NE(std::find(history[3].begin(), history[3].end(), "pwm 25"), history[3].end());
    EXPECT_EQ(board.PinState(5), "pwm 128");
    EXPECT_EQ(board.PinState(6), "pwm 250");
    EXPECT_NE(std::find(history[9].begin(), history[9].end(), "pwm 1"), history[9].end());
    EXPECT_EQ(board.PinState(9), "high");
    for (int pin : {7, 8})
      EXPECT_TRUE(history[pin].empty()) << "unused pin " << pin << " was touched";
  });
}

TEST_P(AvrHilTest, InputsComeBackAsTheBlocksOutputs) {
  RunCase([&] {
    UseBoard();
    for (int pin : {2, 3, 9}) data().PinMode[pin] = pmDigitalInput;
    // Four inputs of different values, read one after another: a reading
    // taken from the input before shows.
    data().AnalogUsed = {1, 0, 1, 0, 1, 1};
    Start();
    EXPECT_EQ(outputs_[0], 5.0L);
    EXPECT_EQ(outputs_[1], 0.0L);
    EXPECT_EQ(outputs_[7], 5.0L);
    EXPECT_EQ(outputs_[8], 512.0L);
    EXPECT_EQ(outputs_[10], 700.0L);
    EXPECT_EQ(outputs_[12], 1023.0L);
    EXPECT_EQ(outputs_[13], 0.0L);
    EXPECT_EQ(outputs_[2], -1.0L) << "an unused pin's output is left alone";
    EXPECT_EQ(outputs_[9], -1.0L) << "an unused analog input is left alone";
    EXPECT_LT(Step(), 7 * ReplyWaitMs());
    EXPECT_EQ(outputs_[10], 700.0L);
    EXPECT_EQ(outputs_[12], 1023.0L);
  });
}

TEST_P(AvrHilTest, ASineOnAnAnalogInputReachesTheOutputs) {
  RunCase([&] {
    // A1 is 500 +- 400 with a 1 s period of the board's time, read for at
    // least 2.5 s.  A busy machine simulates slower than real time (an
    // unoptimised avrboard beside other tests has trailed it by more than ten
    // times), so the reading goes on until the wave has crossed its middle
    // three times.
    UseBoard();
    data().AnalogUsed = {0, 1, 0, 0, 0, 0};
    Start();
    const std::optional<avrboard::PaceReport> before = Board().Pace();
    std::vector<double> values;
    const auto start = Clock::now();
    int sign_changes = 0;
    // The side of the middle the last reading off it was on.  The wave is
    // exactly 500 for a whole millisecond of the board's time at each
    // crossing, and steps shorter than that always read it there, so a
    // crossing is judged against the last reading before it, not the one.
    double last_side = 0;
    while (MsSince(start) < 2500 || values.size() < 20 || sign_changes < 3) {
      if (MsSince(start) > 60000) break;
      const double took_ms = Step();
      EXPECT_LT(took_ms, ReplyWaitMs());
      const double value = static_cast<double>(outputs_[9]);
      if (value != 500) {
        const double side = value > 500 ? 1 : -1;
        if (last_side != 0 && side != last_side) ++sign_changes;
        last_side = side;
      }
      values.push_back(value);
      // Over Ethernet a step takes well under a millisecond.
      if (GetParam().link == Link::kEthernet) usleep(20 * 1000);
    }
    const double seconds = MsSince(start) / 1000;
    const std::optional<avrboard::PaceReport> after = Board().Pace();
    ASSERT_TRUE(before && after) << "avrboard did not say how far its chip got";
    ASSERT_GE(values.size(), 20u) << "too few steps to see the wave";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    EXPECT_GE(*low, 99.0);
    EXPECT_LE(*high, 901.0);
    EXPECT_LT(*low, 200.0) << "the troughs should come through";
    EXPECT_GT(*high, 800.0) << "the crests should come through";
    // The wave crosses its middle twice a second of the board's time.  Its
    // clock never runs ahead of the wall clock, but one that trailed it when
    // the reading began (on a machine too busy for it) catches up meanwhile
    // and runs more than the wall clock's time: the crossings are counted
    // against what avrboard says its chip ran.
    const double board_seconds = (after->chip_ms - before->chip_ms) / 1000;
    EXPECT_GE(sign_changes, 3) << values.size() << " steps in " << seconds << " s";
    EXPECT_LE(sign_changes, 2 * board_seconds + 2)
        << values.size() << " steps in " << seconds << " s of the wall clock and " << board_seconds
        << " s of the board's";
  });
}

TEST_P(AvrHilTest, EveryPwmPinOfTheBoardTakesItsDuty) {
  RunCase([&] {
    UseBoard();
    // Each pin its own duty, so a pin read from another's timer shows.
    std::map<int, int> duty;
    for (int pin : GetParam().pwm_pins) {
      data().PinMode[pin] = pmPWMOutput;
      duty[pin] = 20 * pin;
      inputs_.Set(pin - 2, 4.0L * duty[pin]);
    }
    Start();
    ASSERT_TRUE(Board().AwaitBoardTime(kLogSliceMs)) << "the board's log fell behind";
    auto history = Board().PinHistory();
    for (int pin = 2; pin <= 9; ++pin) {
      if (duty.count(pin)) {
        EXPECT_EQ(Board().PinState(pin), "pwm " + std::to_string(duty[pin])) << "pin " << pin;
      } else {
        EXPECT_TRUE(history[pin].empty()) << "pin " << pin << " has no timer and was not used";
      }
    }
  });
}

// `blockhost check` through the exports of the built module, as a user
// runs it against a board on the desk.
TEST_P(AvrHilTest, BlockhostCheckFindsTheFirmwareAnswering) {
  RunCase([&] {
    if (std::string(BLOCKHOST_PATH).empty()) GTEST_SKIP() << "blockhost was not built";
    UseBoard();
    std::vector<std::string> args = {BLOCKHOST_PATH, "check", "--lib", ARDUINO_BLOCK_MODULE};
    if (GetParam().link == Link::kSerial) {
      args.insert(args.end(), {"--comport", std::to_string(kComPort), "--baud",
                               std::to_string(GetParam().baud)});
    } else {
      args.insert(args.end(),
                  {"--address", "127.0.0.1", "--udpport", std::to_string(data().UdpPort)});
    }
    const harness::RunResult check = harness::RunProgram(args);
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    EXPECT_NE((check.out + check.err).find("board answered 512 in "), std::string::npos)
        << check.out << check.err;
  });
}

// What only a serial line shows.
class AvrHilSerialTest : public AvrHilTest {};

// Whether `reply` is one the firmware gives: the block would take it.
bool IsBoardReply(const std::string& reply) {
  if (reply == "OK" || reply == "HIGH" || reply == "LOW" || reply.rfind("ERR", 0) == 0) return true;
  return !reply.empty() && reply.size() <= 4 &&
         reply.find_first_not_of("0123456789") == std::string::npos;
}

// A block set to another speed than the image's, the commonest mistake with
// a real board: avrboard garbles the line both ways as the wire would, so
// the block gets no reply it could take and the firmware accepts no
// command.  The same block at the image's speed then gets its answers, so
// it was the speed alone.
TEST_P(AvrHilSerialTest, ABlockAtAnotherSpeedGetsNoValidReply) {
  RunCase([&] {
    UseBoard();
    const int32_t right = GetParam().baud;
    const int32_t wrong = right == 115200 ? 9600 : 115200;
    const size_t exchanges_before = Board().Exchanges().size();
    data().BaudRate = wrong;
    OpenLink();
    // Each costs the reply wait; a read and a change of a pin say enough.
    for (const char* command : {"?14s?", "!03mo"}) {
      const std::string reply = ExchangeCommand(data(), command);
      EXPECT_FALSE(IsBoardReply(reply)) << command << " at " << wrong << " got '" << reply << "'";
    }
    EXPECT_TRUE(Board().process().WaitForStderr(
        "the port is set to " + std::to_string(wrong) + " baud", std::chrono::seconds(5)))
        << Board().stderr_text();
    // What the firmware made of the bytes: nothing it accepted.
    ASSERT_TRUE(Board().AwaitBoardTime(100)) << "the board did not get through the bytes";
    for (const std::string& exchange : Board().Exchanges(exchanges_before)) {
      EXPECT_NE(exchange.find(" -> ERR"), std::string::npos)
          << "the firmware accepted a command from a block at the wrong speed: " << exchange;
    }
    // Since this test began: the row's earlier tests set pin 3 themselves.
    EXPECT_TRUE(Board().PinHistory()[3].empty()) << "!03mo reached the pin";

    CloseSerialLink();
    data().BaudRate = right;
    OpenLink();
    EXPECT_EQ(ExchangeCommand(data(), "?14s?"), "512");
    const std::vector<std::string> after = Board().Exchanges(exchanges_before);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), "?14s? -> 512") << "the firmware's log of the exchange at its speed";
  });
}

// A line is never faster than its bytes: each reply comes no sooner than
// the command's and the reply's frames take on the wire, whether the chip's
// clock is ahead of the wall clock or behind it (an unoptimised avrboard on
// a busy machine trails it), and whatever moment of its frame the simulator
// hands a sent byte out at.  The firmware's UART runs up
// to 2.1 % faster than the dialog's speed (117647 baud for 115200), and the
// bound allows for 3 %.
TEST_P(AvrHilSerialTest, NoReplyComesSoonerThanItsBytesTakeOnTheWire) {
  RunCase([&] {
    UseBoard();
    OpenLink();
    // "?14s?" and "512\r\n": ten bytes of ten bits each.
    const double wire_ms = 10 * 10 * 1000.0 / (GetParam().baud * 1.03);
    const int exchanges = GetParam().baud >= 38400 ? 60 : 20;
    double fastest_ms = 1e9;
    for (int i = 0; i < exchanges; ++i) {
      const auto start = Clock::now();
      const std::string reply = ExchangeCommand(data(), "?14s?");
      const double took_ms = MsSince(start);
      ASSERT_EQ(reply, "512") << "exchange " << i;
      fastest_ms = std::min(fastest_ms, took_ms);
    }
    EXPECT_GE(fastest_ms, wire_ms)
        << "a reply came sooner than the wire could carry it at " << GetParam().baud << " baud";
  });
}

// blockhost check at another speed than the image's does not take the
// garbage for the board's answer: it looks for the board at the dialog's
// other speeds and names the image's.  The image at 115200 against a block
// left at 9600 is the case a user meets first.
TEST_P(AvrHilSerialTest, BlockhostCheckAtAnotherSpeedNamesTheImagesSpeed) {
  RunCase([&] {
    if (std::string(BLOCKHOST_PATH).empty()) GTEST_SKIP() << "blockhost was not built";
    UseBoard();
    const int32_t wrong = GetParam().baud == 115200 ? 9600 : 115200;
    const size_t exchanges_before = Board().Exchanges().size();
    const harness::RunResult check =
        harness::RunProgram({BLOCKHOST_PATH, "check", "--lib", ARDUINO_BLOCK_MODULE, "--comport",
                             std::to_string(kComPort), "--baud", std::to_string(wrong)});
    EXPECT_EQ(check.exit_code, 8) << check.out << check.err;
    EXPECT_EQ((check.out + check.err).find("board answered 512"), std::string::npos)
        << check.out << check.err;
    const std::string right = std::to_string(GetParam().baud);
    EXPECT_NE(
        check.out.find("the board answers at " + right + " baud, but the block is set to " +
                       std::to_string(wrong) + ": set the dialog's speed to " + right +
                       ", or `blockhost set --project F baud=" + right + "` for a project file\n"),
        std::string::npos)
        << check.out << check.err;
    // The firmware accepted nothing at the wrong speeds, then the three
    // exchanges of the try at its own.
    std::vector<std::string> exchanges = Board().Exchanges(exchanges_before);
    ASSERT_GE(exchanges.size(), 3u);
    const std::vector<std::string> last(exchanges.end() - 3, exchanges.end());
    EXPECT_EQ(last, (std::vector<std::string>{"!14mi -> OK", "?14s? -> 512", "?14s? -> 512"}));
    exchanges.resize(exchanges.size() - 3);
    for (const std::string& exchange : exchanges) {
      EXPECT_NE(exchange.find(" -> ERR"), std::string::npos) << exchange;
    }
  });
}

// What only a network shows.
class AvrHilEthernetTest : public AvrHilTest {};

// The sketch reads at most a command's worth of a datagram and answers a
// longer one as malformed; one larger than the chip's receive memory is
// dropped by the chip.  Neither may upset the next exchange.
TEST_P(AvrHilEthernetTest, AnOversizedDatagramCostsOneErrorReplyAtMost) {
  RunCase([&] {
    UseBoard();
    harness::UdpPeer peer;
    peer.Connect(data().UdpPort);
    peer.Send(std::string(600, '?'));
    EXPECT_EQ(peer.Receive(), "ERR bad length");
    peer.Send(std::string(4000, 'w'));
    EXPECT_EQ(peer.Receive(milliseconds(300)), std::nullopt)
        << "a datagram beyond the receive memory is not delivered";
    peer.Send("?14s?");
    EXPECT_EQ(peer.Receive(), "512");
  });
}

// The board's address set over its USB port is kept in EEPROM: after a
// restart with the same EEPROM file the chip is given it again, and the
// block still meets the board over the loopback bridge.
TEST_P(AvrHilEthernetTest, AnAddressSetOverUsbSurvivesARestart) {
  if (std::string(BLOCKHOST_PATH).empty()) GTEST_SKIP() << "blockhost was not built";
  const harness::TempDir scratch;
  const std::string& dir = scratch.path();
  ASSERT_FALSE(dir.empty());
  const std::vector<std::string> board_address = {BLOCKHOST_PATH, "board-address", "--comport",
                                                  std::to_string(kComPort)};
  const std::vector<std::string> environment = {"ARDUINO_BLOCK_COM" + std::to_string(kComPort) +
                                                "=" + dir + "/ttyAVR"};
  {
    AvrBoardProcess board(GetParam(), dir, {"--adc", "A0=321"});
    ASSERT_TRUE(board.ready()) << board.stderr_text();
    EXPECT_TRUE(board.process().WaitForStderr("the W5100 was given address 192.168.0.121",
                                              std::chrono::seconds(10)))
        << "a blank EEPROM gives the default address\n"
        << board.stderr_text();
    std::vector<std::string> set = board_address;
    set.push_back("10.0.0.50");
    const harness::RunResult result = harness::RunProgram(set, environment);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("10.0.0.50"), std::string::npos) << result.out << result.err;
    // Not the real board's advice: the simulated one answers on loopback.
    EXPECT_NE(result.out.find("it is avrboard's simulated board (pid "), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("blockhost set --project F address=127.0.0.1 udpport=" +
                              std::to_string(board.udp_port())),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(board.process().WaitForStderr("the W5100 was given address 10.0.0.50",
                                              std::chrono::seconds(10)))
        << "the new address takes effect at once\n"
        << board.stderr_text();
    EXPECT_EQ(board.Stop(), 0) << board.stderr_text();
  }
  AvrBoardProcess board(GetParam(), dir, {"--adc", "A0=321"});
  ASSERT_TRUE(board.ready()) << board.stderr_text();
  EXPECT_TRUE(board.process().WaitForStderr("the W5100 was given address 10.0.0.50",
                                            std::chrono::seconds(10)))
      << board.stderr_text();
  const harness::RunResult shown = harness::RunProgram(board_address, environment);
  EXPECT_EQ(shown.exit_code, 0) << shown.out << shown.err;
  EXPECT_NE(shown.out.find("10.0.0.50"), std::string::npos) << shown.out << shown.err;

  data().UdpPort = board.udp_port();
  OpenLink();
  EXPECT_EQ(ExchangeCommand(data(), "?14s?"), "321");
  EXPECT_EQ(board.Stop(), 0) << board.stderr_text();
}

// A Nano with the old bootloader, as most clones come: the Uno's chip and
// the Uno's image, behind ATmegaBOOT, which listens at 57600 baud and waits
// about 1.3 s after every reset.  avrboard boots it from the copy beside
// itself, with an empty flash; `blockhost flash --board nano-old` writes the
// image at that speed and checks the board through the library, and the
// block then reads A0 through the bootloader's window within its pause
// after opening the port.  The board's row is the Uno's image at 115200.
class AvrHilNanoTest : public AvrHilTest {
 protected:
  void SetUp() override {
    if (!kStartBare) GTEST_SKIP() << kWhyNotBare;
    if (std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) GTEST_SKIP() << why;
    if (std::string(BLOCKHOST_PATH).empty()) GTEST_SKIP() << "blockhost was not built";
    if (std::string(AVRDUDE_PATH).empty()) GTEST_SKIP() << "no avrdude (apt install avrdude)";
    if (access(NANO_OLD_BOOTLOADER, R_OK) != 0) {
      GTEST_SKIP() << "no old Nano bootloader at '" << NANO_OLD_BOOTLOADER
                   << "' (the build copies it from Debian's arduino-core-avr)";
    }
    if (access(GetParam().Hex().c_str(), R_OK) != 0) {
      GTEST_SKIP() << "no firmware image at " << GetParam().Hex() << "; run firmware/build.sh";
    }
    PrepareBlock();
  }
};

TEST_P(AvrHilNanoTest, AnOldBootloaderNanoIsFlashedAt57600ThenAnswersTheBlock) {
  const harness::TempDir dir;
  const std::string link = dir.File("ttyAVR");
  std::string why_not;
  std::optional<harness::ChildProcess> board =
      harness::TryStartAvrboard(AVRBOARD_PATH,
                                {"--board", "nano-old", "--bootloader", "--flash",
                                 dir.File("flash.bin"), "--pty", link, "--adc", "A0=512"},
                                &why_not, kStartLimit);
  ASSERT_TRUE(board) << why_not;
  setpriority(PRIO_PROCESS, board->pid(), kBoardNice);
  EXPECT_TRUE(
      Contains(board->stderr_text(), "running its bootloader (avrdude -c arduino -b 57600)"))
      << board->stderr_text();

  const harness::RunResult flash = Blockhost(
      {"flash", "--comport", std::to_string(kComPort), "--board", "nano-old", "--baud", "115200",
       "--lib", ARDUINO_BLOCK_MODULE, "--firmware-dir", FIRMWARE_DIR, "--avrdude", AVRDUDE_PATH},
      link);
  EXPECT_EQ(flash.exit_code, 0) << flash.out << flash.err << board->stderr_text();
  EXPECT_TRUE(Contains(flash.out, "flashing " + GetParam().Hex() +
                                      " to the Arduino Nano (old bootloader) on COM" +
                                      std::to_string(kComPort) + " ("))
      << flash.out;
  EXPECT_TRUE(Contains(flash.err, "bytes of flash verified")) << flash.err;
  EXPECT_TRUE(Contains(flash.out, "board answered 512")) << flash.out;

  setenv(("ARDUINO_BLOCK_COM" + std::to_string(kComPort)).c_str(), link.c_str(), 1);
  data().AnalogUsed = {1, 0, 0, 0, 0, 0};
  Start();
  EXPECT_EQ(outputs_[8], 512.0L) << board->stderr_text();
  EndRun();
  EXPECT_EQ(board->Stop(SIGTERM, std::chrono::seconds(10)), 0) << board->stderr_text();
  // The bootloader handed over to the image after avrdude, and after each
  // opening since.
  EXPECT_TRUE(Contains(board->stderr_text(), "the bootloader started the program after "))
      << board->stderr_text();
}

// One test suite per row, so that a row's tests run one after the other on
// the row's board.
INSTANTIATE_TEST_SUITE_P(UnoSerial9600, AvrHilTest, ::testing::Values(kUnoSerial9600));
INSTANTIATE_TEST_SUITE_P(UnoSerial19200, AvrHilTest, ::testing::Values(kUnoSerial19200));
INSTANTIATE_TEST_SUITE_P(UnoSerial38400, AvrHilTest, ::testing::Values(kUnoSerial38400));
INSTANTIATE_TEST_SUITE_P(UnoSerial115200, AvrHilTest, ::testing::Values(kUnoSerial115200));
INSTANTIATE_TEST_SUITE_P(UnoEthernet, AvrHilTest, ::testing::Values(kUnoEthernet));
INSTANTIATE_TEST_SUITE_P(MegaSerial9600, AvrHilTest, ::testing::Values(kMegaSerial9600));
INSTANTIATE_TEST_SUITE_P(MegaSerial19200, AvrHilTest, ::testing::Values(kMegaSerial19200));
INSTANTIATE_TEST_SUITE_P(MegaSerial38400, AvrHilTest, ::testing::Values(kMegaSerial38400));
INSTANTIATE_TEST_SUITE_P(MegaSerial115200, AvrHilTest, ::testing::Values(kMegaSerial115200));
INSTANTIATE_TEST_SUITE_P(MegaEthernet, AvrHilTest, ::testing::Values(kMegaEthernet));
INSTANTIATE_TEST_SUITE_P(UnoSerial9600, AvrHilSerialTest, ::testing::Values(kUnoSerial9600));
INSTANTIATE_TEST_SUITE_P(UnoSerial19200, AvrHilSerialTest, ::testing::Values(kUnoSerial19200));
INSTANTIATE_TEST_SUITE_P(UnoSerial38400, AvrHilSerialTest, ::testing::Values(kUnoSerial38400));
INSTANTIATE_TEST_SUITE_P(UnoSerial115200, AvrHilSerialTest, ::testing::Values(kUnoSerial115200));
INSTANTIATE_TEST_SUITE_P(MegaSerial9600, AvrHilSerialTest, ::testing::Values(kMegaSerial9600));
INSTANTIATE_TEST_SUITE_P(MegaSerial19200, AvrHilSerialTest, ::testing::Values(kMegaSerial19200));
INSTANTIATE_TEST_SUITE_P(MegaSerial38400, AvrHilSerialTest, ::testing::Values(kMegaSerial38400));
INSTANTIATE_TEST_SUITE_P(MegaSerial115200, AvrHilSerialTest, ::testing::Values(kMegaSerial115200));
INSTANTIATE_TEST_SUITE_P(UnoEthernet, AvrHilEthernetTest, ::testing::Values(kUnoEthernet));
INSTANTIATE_TEST_SUITE_P(NanoOldBootloader, AvrHilNanoTest, ::testing::Values(kUnoSerial115200));
INSTANTIATE_TEST_SUITE_P(MegaEthernet, AvrHilEthernetTest, ::testing::Values(kMegaEthernet));

}  // namespace
}  // namespace arduino
