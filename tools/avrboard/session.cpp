#include "session.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "board_pins.h"
#include "boot_section.h"
#include "eeprom_file.h"
#include "terminal_input.h"

namespace avrboard {
namespace {

// One slice of simulated time between looks at the terminal and the pins:
// short against a byte at 9600 baud (about 1 ms), long enough that the
// bookkeeping costs little next to the simulation.
constexpr uint64_t kSliceCycles = kClockHz / 2000;  // 0.5 ms
// At the faster speeds a byte takes less than that (87 us at 115200): there
// the slice is one byte's time on the line, but no shorter than this, so
// that a sent byte is known before its frame is over.  While a reply goes
// out the chip runs in steps of this length.
constexpr uint64_t kShortestSliceCycles = kClockHz / 20000;  // 50 us
constexpr double kCyclesPerMs = kClockHz / 1000.0;
// How often the EEPROM is compared with the file: the firmware writes a byte
// in 3.3 ms, so a burst of writes is usually saved once, and a save is never
// more than this much simulated time late.
constexpr uint64_t kEepromCheckCycles = kClockHz / 10;  // 100 ms

std::string DottedQuad(const Ipv4& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string Describe(const NetworkSettings& settings) {
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", settings.mac[0], settings.mac[1],
                settings.mac[2], settings.mac[3], settings.mac[4], settings.mac[5]);
  return "address " + DottedQuad(settings.address) + ", mask " + DottedQuad(settings.mask) +
         ", gateway " + DottedQuad(settings.gateway) + ", MAC " + mac;
}

std::string Describe(const PinState& state) {
  switch (state.kind) {
    case PinState::Kind::kInput:
      return "input";
    case PinState::Kind::kLow:
      return "low";
    case PinState::Kind::kHigh:
      return "high";
    case PinState::Kind::kPwm:
      return "pwm " + std::to_string(state.duty);
  }
  return "?";
}

}  // namespace

std::optional<int> Session::Start() {
  if (std::optional<int> status = LoadFirmware()) return status;
  if (!OpenFiles() || !OpenLinks()) return 1;
  for (auto [pin, high] : options_.digital_inputs) board_.DriveDigital(pin, high);
  for (uint8_t pin = kFirstPin; pin <= kLastPin; ++pin) last_states_[pin] = board_.Pin(pin);
  return std::nullopt;
}

std::optional<int> Session::LoadFirmware() {
  layout_ = LayoutOfMcu(options_.mcu);
  AvrBoard::ShowSimavrMessages(options_.verbose);
  switch (program_.Load(options_, *layout_, &board_, &error_)) {
    case AvrBoard::LoadResult::kLoaded:
      break;
    case AvrBoard::LoadResult::kBadImage:
      std::cerr << "avrboard: " << error_ << "\n";
      return 1;
    case AvrBoard::LoadResult::kOtherChip:
      // The cure is on the command line, as for a usage error.
      std::cerr << "avrboard: " << error_ << "\n";
      return kUsageStatus;
  }
  if (HoldsNoProgramNow()) {
    std::cerr << "avrboard: no program in the flash, only the bootloader, as on a new board: "
              << FlashHint() << std::endl;
  } else {
    const std::string firmware_version = board_.FirmwareVersion();
    std::cerr << "avrboard: firmware "
              << (firmware_version.empty() ? "without a version" : "version " + firmware_version)
              << std::endl;
  }
  if (!options_.eeprom_path.empty()) {
    if (!LoadEepromFile(options_.eeprom_path, layout_->eeprom_size, &saved_eeprom_, &error_)) {
      std::cerr << "avrboard: " << error_ << "\n";
      return 1;
    }
    board_.SetEeprom(saved_eeprom_);
  }
  return std::nullopt;
}

bool Session::HoldsNoProgramNow() const {
  const BootSection* section = BootSectionOfBoard(options_.board);
  return options_.bootloader && section != nullptr && HoldsNoProgram(board_.Flash(), *section);
}

std::string Session::FlashHint() const {
  return "`blockhost flash --board " + options_.board +
         " --comport N`, N the COM port of this terminal, writes one";
}

bool Session::OpenFiles() {
  if (!options_.log_path.empty()) {
    log_.open(options_.log_path, std::ios::trunc);
    if (!log_) {
      std::cerr << "avrboard: cannot write log file '" << options_.log_path << "'\n";
      return false;
    }
  }
  if (!options_.exchanges_path.empty()) {
    exchanges_file_.open(options_.exchanges_path, std::ios::trunc);
    if (!exchanges_file_) {
      std::cerr << "avrboard: cannot write exchange log '" << options_.exchanges_path << "'\n";
      return false;
    }
    exchanges_.emplace(&exchanges_file_);
  }
  return true;
}

bool Session::OpenLinks() {
  if (!options_.pty_path.empty()) {
    std::optional<boardsim::PtyLink> opened = boardsim::PtyLink::Open(options_.pty_path, &error_);
    if (!opened) {
      std::cerr << "avrboard: " << error_ << "\n";
      return false;
    }
    pty_.emplace(std::move(*opened));
  }
  if (options_.ethernet_port) {
    std::optional<LoopbackBridge> opened = LoopbackBridge::Open(*options_.ethernet_port, &error_);
    if (!opened) {
      std::cerr << "avrboard: " << error_ << "\n";
      return false;
    }
    bridge_.emplace(std::move(*opened));
    board_.AttachW5100(&w5100_);
  } else if (exchanges_) {
    ObserveExchanges();
  }
  reported_settings_ = previous_settings_ = w5100_.settings();
  if (pty_ && !line_.Start(pty_->slave_name(), &error_)) {
    std::cerr << "avrboard: " << error_ << "\n";
    return false;
  }
  return true;
}

void Session::ObserveExchanges() {
  // On the serial link the UART carries the exchanges.  With Ethernet the
  // serial port is a console, whose lines are no exchanges.
  board_.ObserveUart([this](bool received, char byte, uint64_t cycle) {
    const uint64_t ns = cycle * 1000000000ull / kClockHz;
    if (received) {
      exchanges_->SerialReceived(byte, ns);
    } else {
      exchanges_->SerialSent(byte, ns);
    }
  });
}

void Session::SayReady() const {
  // Tests wait for "avrboard: ready" and read the port from the end.
  std::cerr << "avrboard: ready, " << layout_->chip << " at 16 MHz running "
            << DescribeProgram(options_);
  if (pty_) std::cerr << ", serial on " << options_.pty_path << " (" << pty_->slave_name() << ")";
  if (bridge_) std::cerr << ", ethernet on udp 127.0.0.1:" << bridge_->port();
  if (pty_ && options_.bridge.kind != BridgeKind::kNone) {
    std::cerr << ", the serial line behind " << DescribeBridge(options_.bridge);
    // The shield's datagrams never pass a USB bridge.
    if (bridge_) std::cerr << "; the Ethernet link is not held by it";
  }
  std::cerr << std::endl;
}

int Session::Run(RunSignals& signals) {
  SayReady();
  started_ = std::chrono::steady_clock::now();
  // Waits of a slice's length mean nothing with the kernel's usual 50 us
  // of slack on each.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  while (signals.stop == 0) {
    stopped_cycles_ += pace_.Observe(WallCycle(), board_.cycle(), signals.resumed.exchange(false));
    // Reported before this pass does anything, so that the report also says
    // that whatever the passes before it did (a reply sent, a pin logged) is
    // done: a test may take it as the sign that the log is up to date.
    if (signals.report.exchange(false)) ReportPace();
    const uint64_t slice_cycles = SliceCycles();
    // A byte whose frame ended while the chip waited goes out before the
    // chip catches up, which takes time of its own.
    WriteDone();
    if (!CatchUp(slice_cycles)) return Report(1);
    if (pty_) {
      if (!ServeTerminal(slice_cycles)) return Report(1);
    } else {
      held_output_.Clear();
    }
    if (bridge_) ServeEthernet();
    SaveEepromWhenDue();
    SaveFlashWhenDue();
    LogPins();
    Sleep(slice_cycles);
  }
  return Report(0);
}

// The chip's time follows the wall clock, as closely as the slices let it:
// the loop simulates up to the wall clock and no further, takes in what
// arrived meanwhile at that moment of the chip's time, and hands out each
// byte the firmware sent once its frame is over on the wire.  A chip running
// ahead would take a command late by its lead and answer early by it, and
// the two do not cancel.  The time the process was stopped by a signal is
// left out (see pace_meter.h).
uint64_t Session::WallCycle() const {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now() - started_)
                      .count();
  return static_cast<uint64_t>(ns) * (kClockHz / 1000000) / 1000 - stopped_cycles_;
}

uint64_t Session::SliceCycles() const {
  const double uart_baud = board_.UartRate();
  if (!pty_ || uart_baud <= 0) return kSliceCycles;
  return std::clamp(static_cast<uint64_t>(kClockHz * 10 / uart_baud), kShortestSliceCycles,
                    kSliceCycles);
}

void Session::WriteDone() {
  if (!pty_) return;
  std::vector<uint64_t> done_cycles;
  const uint64_t wall = WallCycle();
  const uint64_t now = wall > input_lag_ ? wall - input_lag_ : 0;
  std::string done = held_output_.TakeDone(now, &done_cycles);
  done = speeds_.FromFirmware(done, done_cycles, board_.cycle());
  // Each byte reaches the bridge as its frame ends.
  for (size_t i = 0; i < done.size(); ++i) {
    usb_bridge_.Take(done[i], i < done_cycles.size() && done.size() == done_cycles.size()
                                  ? done_cycles[i] + board_.UartFrameCycles()
                                  : now);
  }
  done = usb_bridge_.Release(now);
  // With nobody reading the terminal the reply is lost, as on a real line;
  // while the port is closed nothing is even written.
  if (!done.empty() && line_.InUse()) (void)pty_->Write(done, &error_);
}

// While a reply is on its way out the chip goes in short steps, so that a
// frame that ends meanwhile leaves on time and not when the whole stretch
// has been simulated.
bool Session::AdvanceTo(uint64_t until) {
  while (board_.cycle() < until) {
    const uint64_t step = held_output_.empty()
                              ? until - board_.cycle()
                              : std::min(until - board_.cycle(), kShortestSliceCycles);
    const bool ran = board_.Run(step, &error_);
    std::vector<uint64_t> output_cycles;
    std::string output = board_.TakeOutput(&output_cycles);
    held_output_.Add(output, output_cycles, board_.UartFrameCycles());
    WriteDone();
    if (!ran) return false;
  }
  return true;
}

bool Session::CatchUp(uint64_t slice_cycles) {
  const uint64_t wall_now = WallCycle();
  if (wall_now <= board_.cycle()) return true;
  const double now_ms = board_.cycle() / kCyclesPerMs;
  for (const auto& [pin, source] : options_.analog) {
    board_.DriveAnalog(static_cast<uint8_t>(pin - board::kFirstAnalogPin),
                       boardsim::EvaluateAnalogSource(source, static_cast<int64_t>(now_ms), 0));
  }
  if (!AdvanceTo(board_.cycle() + std::min(wall_now - board_.cycle(), slice_cycles))) {
    std::cerr << "avrboard: " << error_ << " at " << now_ms << " ms\n";
    return false;
  }
  return true;
}

bool Session::ServeTerminal(uint64_t slice_cycles) {
  WriteDone();
  PtyTerminal terminal(&*pty_, &line_);
  const TerminalInput input = TakeInput(&terminal);
  // An Uno resets when a program opens its port (the shield's W5100 with
  // it), and what the old firmware said but nobody read is gone with the
  // line.  What that program wrote reaches the board after the reset.
  if (input.opened) {
    if (pty_->DiscardUnread()) line_.OwnOpenFollows();
    held_output_.Clear();
    usb_bridge_.Clear();
    board_.Reset();
  }
  // Bytes enter the UART no sooner than the moment they were read at:
  // catching up took time, and what arrived meanwhile would otherwise land
  // in the chip's past, early by as much.  A chip far behind (the machine
  // stalled, or avrboard was stopped) takes them at once.
  if (!input.bytes.empty()) {
    const uint64_t read_cycle = WallCycle();
    if (read_cycle > board_.cycle() && read_cycle - board_.cycle() <= 2 * slice_cycles &&
        !AdvanceTo(read_cycle)) {
      std::cerr << "avrboard: " << error_ << " at " << board_.cycle() / kCyclesPerMs << " ms\n";
      return false;
    }
    input_lag_ = read_cycle > board_.cycle() ? read_cycle - board_.cycle() : 0;
  }
  // The firmware's rate as the bytes enter its UART, the terminal's as it
  // stood once they were written (see terminal_input.h).
  speeds_.Update(board_.UartRate(), input.baud);
  board_.QueueInput(speeds_.ToFirmware(input.bytes));
  return true;
}

void Session::ServeEthernet() {
  // A datagram lands in the chip's RX memory at the start of the slice
  // after it arrived; what the chip drops (no UDP socket open, too large,
  // no room) is dropped here as on a real wire.
  while (std::optional<PeerDatagram> datagram = bridge_->Receive()) {
    const uint64_t landed_ns = board_.NowNs();
    if (w5100_.Deliver(datagram->source, datagram->source_port, datagram->payload, landed_ns) &&
        exchanges_) {
      exchanges_->UdpLanded(datagram->payload, landed_ns);
    }
  }
  w5100_.Advance(board_.NowNs());
  for (const SentDatagram& sent : w5100_.TakeSent()) {
    (void)bridge_->Forward(sent);
    if (exchanges_) exchanges_->UdpSent(sent.payload, sent.command_ns);
  }
  ReportNetworkSettings();
}

void Session::ReportNetworkSettings() {
  // The firmware writes the address, mask, gateway and MAC a byte at a
  // time; they are reported once they have held for a whole slice.
  const NetworkSettings settings = w5100_.settings();
  if (settings == previous_settings_ && settings != reported_settings_ &&
      settings.address != Ipv4{}) {
    std::cerr << "avrboard: the W5100 was given " << Describe(settings) << std::endl;
    // The address is the firmware's to choose (board-address sets it), but
    // the simulated wire stays on loopback: a block set to the board's
    // address would send beyond this machine and meet nobody.
    if (settings.address != reported_settings_.address) {
      const std::string port = std::to_string(bridge_->port());
      std::cerr << "avrboard: the simulated board answers at 127.0.0.1 UDP port " << port
                << ", whatever its address: blockhost check --address 127.0.0.1 --udpport " << port
                << std::endl;
    }
    reported_settings_ = settings;
  }
  previous_settings_ = settings;
}

// Writes the EEPROM to its file when it differs from what was saved last.
bool Session::SaveEepromIfChanged() {
  std::vector<uint8_t> now = board_.Eeprom();
  if (now == saved_eeprom_) return true;
  if (!SaveEepromFile(options_.eeprom_path, now, &error_)) {
    std::cerr << "avrboard: " << error_ << std::endl;
    return false;
  }
  saved_eeprom_ = std::move(now);
  return true;
}

void Session::SaveEepromWhenDue() {
  if (options_.eeprom_path.empty() ||
      board_.cycle() - last_eeprom_check_cycle_ < kEepromCheckCycles) {
    return;
  }
  last_eeprom_check_cycle_ = board_.cycle();
  SaveEepromIfChanged();
}

// A bootloader writes the flash a page at a time; the file is brought up to
// date as often as the EEPROM's.  The bootloader's hand-over to the program
// is reported here too, in the chip's time.
void Session::SaveFlashWhenDue() {
  if (std::optional<uint64_t> window = board_.TakeBootWindowCycles()) {
    // A blank flash runs on as stray instructions: nothing the chip does
    // then is a program's, the rates it sets included.
    const bool blank = HoldsNoProgramNow();
    speeds_.set_quiet(blank);
    if (blank) {
      std::fprintf(stderr,
                   "avrboard: the bootloader went on after %.1f ms with no program to start, so "
                   "nothing will answer on the line: %s\n",
                   *window / kCyclesPerMs, FlashHint().c_str());
    } else {
      std::fprintf(stderr, "avrboard: the bootloader started the program after %.1f ms\n",
                   *window / kCyclesPerMs);
    }
  }
  if (options_.flash_path.empty() ||
      board_.cycle() - last_flash_check_cycle_ < kEepromCheckCycles) {
    return;
  }
  last_flash_check_cycle_ = board_.cycle();
  if (!program_.SaveIfChanged(board_, &error_)) std::cerr << "avrboard: " << error_ << std::endl;
}

void Session::LogPins() {
  for (auto& [pin, last] : last_states_) {
    const PinState state = board_.Pin(pin);
    if (state == last) continue;
    last = state;
    if (log_.is_open()) {
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%.3f", board_.cycle() / kCyclesPerMs);
      log_ << stamp << " pin " << int{pin} << " " << Describe(state) << std::endl;
    }
  }
}

// Caught up with the wall clock: waits for a whole slice to be due, or for
// the next sent byte's frame to be over, and wakes at once for input.
void Session::Sleep(uint64_t slice_cycles) {
  uint64_t due = board_.cycle() + slice_cycles;
  if (std::optional<uint64_t> done = held_output_.NextDone()) {
    due = std::min(due, *done + input_lag_);
  }
  if (std::optional<uint64_t> released = usb_bridge_.NextRelease()) {
    due = std::min(due, *released + input_lag_);
  }
  const uint64_t now = WallCycle();
  if (due <= now) return;
  // While nobody has the port open the master only reports a hang-up, so
  // the terminal is watched only while somebody does.
  pollfd watch[2];
  nfds_t watched = 0;
  if (pty_ && line_.InUse()) watch[watched++] = {pty_->fd(), POLLIN, 0};
  if (bridge_) watch[watched++] = {bridge_->fd(), POLLIN, 0};
  const uint64_t wait_ns = (due - now) * 1000 / (kClockHz / 1000000);
  const timespec timeout{static_cast<time_t>(wait_ns / 1000000000),
                         static_cast<long>(wait_ns % 1000000000)};
  const auto wait_start = std::chrono::steady_clock::now();
  ppoll(watch, watched, &timeout, nullptr);
  waited_ms_ +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wait_start)
          .count();
}

void Session::ReportPace() {
  std::fprintf(stderr, "%s\n",
               FormatPaceReport(pace_.TakeReport(WallCycle(), board_.cycle())).c_str());
}

int Session::Report(int exit_code) {
  // Whatever the firmware saved last reaches the file even when it was
  // stopped before the next check.
  if (!options_.eeprom_path.empty() && !SaveEepromIfChanged()) exit_code = 1;
  if (!program_.SaveIfChanged(board_, &error_)) {
    std::cerr << "avrboard: " << error_ << std::endl;
    exit_code = 1;
  }
  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  // The speed without the waits says how much room is left: below 1 the
  // simulation cannot keep up with real time on this machine.
  const double sim_s = board_.cycle() / (kCyclesPerMs * 1000);
  const double busy_s = wall_s - waited_ms_ / 1000;
  // The chip's time left out the time the process was stopped by a signal:
  // a test stops it on purpose, and that says nothing about the machine.
  char stopped[64] = "";
  if (pace_.stopped_ms() > 0) {
    std::snprintf(stopped, sizeof stopped, " besides %.3f s stopped by a signal",
                  pace_.stopped_ms() / 1000);
  }
  std::fprintf(stderr,
               "avrboard: stopped; simulated %.3f s in %.3f s, at most %.1f ms behind the wall "
               "clock%s, unpaced speed %.1fx real time\n",
               sim_s, wall_s, pace_.most_behind_ms(), stopped, busy_s > 0 ? sim_s / busy_s : 0.0);
  if (pty_ && options_.bridge.kind != BridgeKind::kNone) {
    std::cerr << FormatBridgeReport(options_.bridge, usb_bridge_.tally(), kClockHz) << std::endl;
  }
  return exit_code;
}

}  // namespace avrboard
