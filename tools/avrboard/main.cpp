// avrboard: the compiled board firmware on a simulated ATmega328P (Uno) or
// ATmega2560 (Mega 2560), paced to the wall clock, with UART0 on a
// pseudo-terminal.  Tests point the block's serial link at the terminal and
// read the pins' history from --log.  With --ethernet a W5100 model sits on
// the SPI bus and its wire is a UDP socket on 127.0.0.1.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "avr_board.h"
#include "board_pins.h"
#include "eeprom_file.h"
#include "exchange_log.h"
#include "line_speed.h"
#include "line_watch.h"
#include "link/serial_speed_posix.h"
#include "loopback_bridge.h"
#include "options.h"
#include "program_memory.h"
#include "pty_link.h"
#include "uart_timing.h"
#include "w5100.h"

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

// One slice of simulated time between looks at the terminal and the pins:
// short against a byte at 9600 baud (about 1 ms), long enough that the
// bookkeeping costs little next to the simulation.
constexpr uint64_t kSliceCycles = avrboard::kClockHz / 2000;  // 0.5 ms
// At the faster speeds a byte takes less than that (87 us at 115200): there
// the slice is one byte's time on the line, but no shorter than this, so
// that a sent byte is known before its frame is over.  While a reply goes
// out the chip runs in steps of this length.
constexpr uint64_t kShortestSliceCycles = avrboard::kClockHz / 20000;  // 50 us
constexpr double kCyclesPerMs = avrboard::kClockHz / 1000.0;
// How often the EEPROM is compared with the file: the firmware writes a byte
// in 3.3 ms, so a burst of writes is usually saved once, and a save is never
// more than this much simulated time late.
constexpr uint64_t kEepromCheckCycles = avrboard::kClockHz / 10;  // 100 ms

std::string DottedQuad(const avrboard::Ipv4& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::string Describe(const avrboard::NetworkSettings& settings) {
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", settings.mac[0], settings.mac[1],
                settings.mac[2], settings.mac[3], settings.mac[4], settings.mac[5]);
  return "address " + DottedQuad(settings.address) + ", mask " + DottedQuad(settings.mask) +
         ", gateway " + DottedQuad(settings.gateway) + ", MAC " + mac;
}

// Writes the EEPROM to its file when it differs from what was saved last.
bool SaveEepromIfChanged(const avrboard::AvrBoard& board, const std::string& path,
                         std::vector<uint8_t>* saved) {
  std::vector<uint8_t> now = board.Eeprom();
  if (now == *saved) return true;
  std::string error;
  if (!avrboard::SaveEepromFile(path, now, &error)) {
    std::cerr << "avrboard: " << error << std::endl;
    return false;
  }
  *saved = std::move(now);
  return true;
}

std::string Describe(const avrboard::PinState& state) {
  switch (state.kind) {
    case avrboard::PinState::Kind::kInput:
      return "input";
    case avrboard::PinState::Kind::kLow:
      return "low";
    case avrboard::PinState::Kind::kHigh:
      return "high";
    case avrboard::PinState::Kind::kPwm:
      return "pwm " + std::to_string(state.duty);
  }
  return "?";
}

// The terminal's speed against the firmware's UART0.  The block sets its
// speed on the pty's slave; the pair shares one set of line settings, so it
// is read on the master, and avrboard never opens the slave (see
// line_watch.h).  While the two rates disagree, bytes cross as a wire at
// those rates would carry them (line_speed.h); avrboard says once which
// rate the firmware set, and once for each terminal speed that does not
// match it when bytes first cross at it.
class LineSpeeds {
 public:
  // Takes in both rates; the terminal's counts only while somebody has the
  // port open.
  void Update(const avrboard::AvrBoard& board, int master_fd, bool in_use) {
    // Between a reset and the firmware's Serial.begin the UART is off; the
    // image sets the same rate again, so the last one still decides what
    // becomes of bytes that arrive meanwhile.
    if (const double rate = board.UartRate(); rate > 0) uart_baud_ = rate;
    if (uart_baud_ > 0 && uart_baud_ != reported_uart_baud_) {
      std::fprintf(stderr, "avrboard: the firmware set UART0 to %.0f baud\n", uart_baud_);
      reported_uart_baud_ = uart_baud_;
      reported_terminal_baud_ = 0;
    }
    terminal_baud_ = 0;
    termios settings{};
    if (in_use && tcgetattr(master_fd, &settings) == 0) {
      if (std::optional<int32_t> baud = arduino::BaudRateOf(cfgetospeed(&settings))) {
        terminal_baud_ = *baud;
      }
    }
  }

  // Whether the two ends disagree.  A UART never yet set up takes bytes as
  // simavr hands them; a speed avrboard does not know counts as agreeing.
  bool garbled() const {
    return uart_baud_ > 0 && terminal_baud_ > 0 &&
           !boardsim::RatesAgree(terminal_baud_, uart_baud_);
  }

  // What the firmware reads of bytes the block wrote.
  std::string ToFirmware(const std::string& bytes) {
    if (!garbled() || bytes.empty()) return bytes;
    ReportMismatch(terminal_baud_);
    return boardsim::AsFirmwareReads(boardsim::ReceiveBurst(bytes, terminal_baud_, uart_baud_));
  }

  // Takes bytes the firmware sent at `cycles`, and gives what the block
  // reads of them.  While the line garbles, bytes are held until the line
  // has been idle for longer than a frame at either rate, so that a reply's
  // frames are read as the one stream they are on the wire.
  std::string FromFirmware(const std::string& bytes, const std::vector<uint64_t>& cycles,
                           uint64_t now_cycle) {
    if (!garbled() && held_.empty()) return bytes;
    for (size_t i = 0; i < bytes.size(); ++i) {
      held_.push_back(
          {static_cast<uint8_t>(bytes[i]), static_cast<double>(cycles[i]) / avrboard::kClockHz});
    }
    if (held_.empty()) return "";
    const double now_s = static_cast<double>(now_cycle) / avrboard::kClockHz;
    const double send_baud = uart_baud_ > 0 ? uart_baud_ : 9600;
    const double read_baud = terminal_baud_ > 0 ? terminal_baud_ : send_baud;
    if (now_s < held_.back().start_s + 12 / send_baud + 12 / read_baud) return "";
    std::string read;
    if (boardsim::RatesAgree(send_baud, read_baud)) {
      for (const boardsim::SentFrame& frame : held_) read += static_cast<char>(frame.byte);
    } else {
      ReportMismatch(read_baud);
      read = boardsim::AsTerminalReads(boardsim::ReceiveFrames(held_, send_baud, read_baud));
    }
    held_.clear();
    return read;
  }

 private:
  // Said once per terminal speed, when bytes first cross at it: a program
  // that opens the port and only then sets its speed is not reported for
  // the moment in between.
  void ReportMismatch(double terminal_baud) {
    if (terminal_baud == reported_terminal_baud_) return;
    std::fprintf(stderr,
                 "avrboard: the port is set to %.0f baud but the firmware's UART0 runs at "
                 "%.0f: the line garbles every byte both ways\n",
                 terminal_baud, uart_baud_);
    reported_terminal_baud_ = terminal_baud;
  }

  double uart_baud_ = 0;
  double terminal_baud_ = 0;
  double reported_uart_baud_ = 0;
  double reported_terminal_baud_ = 0;
  std::vector<boardsim::SentFrame> held_;
};

int Run(const avrboard::Options& options) {
  avrboard::AvrBoard board;
  std::string error;
  const avrboard::BoardLayout& layout = *avrboard::LayoutOfMcu(options.mcu);
  avrboard::AvrBoard::ShowSimavrMessages(options.verbose);
  avrboard::ProgramMemory program;
  switch (program.Load(options, layout, &board, &error)) {
    case avrboard::AvrBoard::LoadResult::kLoaded:
      break;
    case avrboard::AvrBoard::LoadResult::kBadImage:
      std::cerr << "avrboard: " << error << "\n";
      return 1;
    case avrboard::AvrBoard::LoadResult::kOtherChip:
      // The cure is on the command line, as for a usage error.
      std::cerr << "avrboard: " << error << "\n";
      return avrboard::kUsageStatus;
  }
  const std::string firmware_version = board.FirmwareVersion();
  std::cerr << "avrboard: firmware "
            << (firmware_version.empty() ? "without a version" : "version " + firmware_version)
            << std::endl;
  std::vector<uint8_t> saved_eeprom;
  if (!options.eeprom_path.empty()) {
    if (!avrboard::LoadEepromFile(options.eeprom_path, layout.eeprom_size, &saved_eeprom, &error)) {
      std::cerr << "avrboard: " << error << "\n";
      return 1;
    }
    board.SetEeprom(saved_eeprom);
  }
  std::ofstream log;
  if (!options.log_path.empty()) {
    log.open(options.log_path, std::ios::trunc);
    if (!log) {
      std::cerr << "avrboard: cannot write log file '" << options.log_path << "'\n";
      return 1;
    }
  }
  std::ofstream exchanges_file;
  std::optional<avrboard::ExchangeRecorder> exchanges;
  if (!options.exchanges_path.empty()) {
    exchanges_file.open(options.exchanges_path, std::ios::trunc);
    if (!exchanges_file) {
      std::cerr << "avrboard: cannot write exchange log '" << options.exchanges_path << "'\n";
      return 1;
    }
    exchanges.emplace(&exchanges_file);
  }
  std::optional<boardsim::PtyLink> pty =
      options.pty_path.empty() ? std::nullopt : boardsim::PtyLink::Open(options.pty_path, &error);
  if (!options.pty_path.empty() && !pty) {
    std::cerr << "avrboard: " << error << "\n";
    return 1;
  }
  avrboard::W5100 w5100;
  std::optional<avrboard::LoopbackBridge> bridge =
      options.ethernet_port ? avrboard::LoopbackBridge::Open(*options.ethernet_port, &error)
                            : std::nullopt;
  if (options.ethernet_port && !bridge) {
    std::cerr << "avrboard: " << error << "\n";
    return 1;
  }
  if (bridge) {
    board.AttachW5100(&w5100);
  } else if (exchanges) {
    // On the serial link the UART carries the exchanges.  With Ethernet the
    // serial port is a console, whose lines are no exchanges.
    board.ObserveUart([&exchanges](bool received, char byte, uint64_t cycle) {
      const uint64_t ns = cycle * 1000000000ull / avrboard::kClockHz;
      if (received) {
        exchanges->SerialReceived(byte, ns);
      } else {
        exchanges->SerialSent(byte, ns);
      }
    });
  }
  avrboard::NetworkSettings reported_settings = w5100.settings();
  avrboard::NetworkSettings previous_settings = reported_settings;

  avrboard::LineWatch line;
  LineSpeeds speeds;
  if (pty && !line.Start(pty->slave_name(), &error)) {
    std::cerr << "avrboard: " << error << "\n";
    return 1;
  }
  for (auto [pin, high] : options.digital_inputs) board.DriveDigital(pin, high);
  std::map<uint8_t, avrboard::PinState> last_states;
  for (uint8_t pin = avrboard::kFirstPin; pin <= avrboard::kLastPin; ++pin) {
    last_states[pin] = board.Pin(pin);
  }

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);

  // Tests wait for "avrboard: ready" and read the port from the end.
  std::cerr << "avrboard: ready, " << layout.chip << " at 16 MHz running "
            << avrboard::DescribeProgram(options);
  if (pty) std::cerr << ", serial on " << options.pty_path << " (" << pty->slave_name() << ")";
  if (bridge) std::cerr << ", ethernet on udp 127.0.0.1:" << bridge->port();
  std::cerr << std::endl;

  const auto started = std::chrono::steady_clock::now();
  // The chip's time follows the wall clock, as closely as the slices let
  // it: the loop simulates up to the wall clock and no further, takes in
  // what arrived meanwhile at that moment of the chip's time, and hands out
  // each byte the firmware sent once its frame is over on the wire.  A
  // chip running ahead would take a command late by its lead and answer
  // early by it, and the two do not cancel.
  auto wall_cycle = [&started] {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    return static_cast<uint64_t>(ns) * (avrboard::kClockHz / 1000000) / 1000;
  };
  // Waits of a slice's length mean nothing with the kernel's usual 50 us
  // of slack on each.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  avrboard::HeldOutput held_output;
  // How far the chip's time trailed the wall clock when it last took bytes
  // in.  A chip that falls behind takes a command at once and answers as it
  // catches up; its reply is held by the same lag, so that it comes no
  // sooner after the command than the wire would bring it.
  uint64_t input_lag = 0;
  // Writes to the terminal what has left the wire by now.
  auto write_done = [&] {
    if (!pty) return;
    std::vector<uint64_t> done_cycles;
    const uint64_t wall = wall_cycle();
    std::string done = held_output.TakeDone(wall > input_lag ? wall - input_lag : 0, &done_cycles);
    done = speeds.FromFirmware(done, done_cycles, board.cycle());
    // With nobody reading the terminal the reply is lost, as on a real
    // line; while the port is closed nothing is even written.
    if (!done.empty() && line.InUse()) (void)pty->Write(done, &error);
  };
  // Runs the chip up to `until`.  While a reply is on its way out it goes
  // in short steps, so that a frame that ends meanwhile leaves on time and
  // not when the whole stretch has been simulated.
  auto advance_to = [&](uint64_t until) {
    while (board.cycle() < until) {
      const uint64_t step = held_output.empty()
                                ? until - board.cycle()
                                : std::min(until - board.cycle(), kShortestSliceCycles);
      const bool ran = board.Run(step, &error);
      std::vector<uint64_t> output_cycles;
      std::string output = board.TakeOutput(&output_cycles);
      held_output.Add(output, output_cycles, board.UartFrameCycles());
      write_done();
      if (!ran) return false;
    }
    return true;
  };
  double most_behind_ms = 0;
  double waited_ms = 0;
  int exit_code = 0;
  uint64_t last_eeprom_check_cycle = 0;
  uint64_t last_flash_check_cycle = 0;
  while (g_stop_signal == 0) {
    uint64_t slice_cycles = kSliceCycles;
    if (const double uart_baud = board.UartRate(); pty && uart_baud > 0) {
      slice_cycles = std::clamp(static_cast<uint64_t>(avrboard::kClockHz * 10 / uart_baud),
                                kShortestSliceCycles, kSliceCycles);
    }
    // A byte whose frame ended while the chip waited goes out before the
    // chip catches up, which takes time of its own.
    write_done();
    const uint64_t wall_now = wall_cycle();
    if (wall_now > board.cycle()) {
      const double now_ms = board.cycle() / kCyclesPerMs;
      most_behind_ms = std::max(most_behind_ms, (wall_now - board.cycle()) / kCyclesPerMs);
      for (const auto& [pin, source] : options.analog) {
        board.DriveAnalog(static_cast<uint8_t>(pin - board::kFirstAnalogPin),
                          boardsim::EvaluateAnalogSource(source, static_cast<int64_t>(now_ms), 0));
      }
      if (!advance_to(board.cycle() + std::min(wall_now - board.cycle(), slice_cycles))) {
        std::cerr << "avrboard: " << error << " at " << now_ms << " ms\n";
        exit_code = 1;
        break;
      }
    }
    if (pty) {
      write_done();
      // An Uno resets when a program opens its port (the shield's W5100
      // with it), and what the old firmware said but nobody read is gone
      // with the line.
      if (line.Update()) {
        pty->DiscardUnread();
        held_output.Clear();
        board.Reset();
      }
      speeds.Update(board, pty->fd(), line.InUse());
      // Bytes enter the UART no sooner than the moment they were read at:
      // catching up took time, and what arrived meanwhile would otherwise
      // land in the chip's past, early by as much.  A chip far behind (the
      // machine stalled, or avrboard was stopped) takes them at once.
      std::string bytes;
      pty->Read(&bytes);
      if (!bytes.empty()) {
        const uint64_t read_cycle = wall_cycle();
        if (read_cycle > board.cycle() && read_cycle - board.cycle() <= 2 * slice_cycles &&
            !advance_to(read_cycle)) {
          std::cerr << "avrboard: " << error << " at " << board.cycle() / kCyclesPerMs << " ms\n";
          exit_code = 1;
          break;
        }
        input_lag = read_cycle > board.cycle() ? read_cycle - board.cycle() : 0;
      }
      board.QueueInput(speeds.ToFirmware(bytes));
    } else {
      held_output.Clear();
    }
    // A datagram lands in the chip's RX memory at the start of the slice
    // after it arrived; what the chip drops (no UDP socket open, too large,
    // no room) is dropped here as on a real wire.
    while (bridge) {
      std::optional<avrboard::PeerDatagram> datagram = bridge->Receive();
      if (!datagram) break;
      const uint64_t landed_ns = board.NowNs();
      if (w5100.Deliver(datagram->source, datagram->source_port, datagram->payload, landed_ns) &&
          exchanges) {
        exchanges->UdpLanded(datagram->payload, landed_ns);
      }
    }

    if (bridge) {
      w5100.Advance(board.NowNs());
      for (const avrboard::SentDatagram& sent : w5100.TakeSent()) {
        (void)bridge->Forward(sent);
        if (exchanges) exchanges->UdpSent(sent.payload, sent.command_ns);
      }
      // The firmware writes the address, mask, gateway and MAC a byte at a
      // time; they are reported once they have held for a whole slice.
      const avrboard::NetworkSettings settings = w5100.settings();
      if (settings == previous_settings && settings != reported_settings &&
          settings.address != avrboard::Ipv4{}) {
        std::cerr << "avrboard: the W5100 was given " << Describe(settings) << std::endl;
        // The address is the firmware's to choose (board-address sets it),
        // but the simulated wire stays on loopback: a block set to the
        // board's address would send beyond this machine and meet nobody.
        if (settings.address != reported_settings.address) {
          const std::string port = std::to_string(bridge->port());
          std::cerr << "avrboard: the simulated board answers at 127.0.0.1 UDP port " << port
                    << ", whatever its address: blockhost check --address 127.0.0.1 --udpport "
                    << port << std::endl;
        }
        reported_settings = settings;
      }
      previous_settings = settings;
    }
    if (!options.eeprom_path.empty() &&
        board.cycle() - last_eeprom_check_cycle >= kEepromCheckCycles) {
      last_eeprom_check_cycle = board.cycle();
      SaveEepromIfChanged(board, options.eeprom_path, &saved_eeprom);
    }
    if (std::optional<uint64_t> window = board.TakeBootWindowCycles()) {
      std::fprintf(stderr, "avrboard: the bootloader started the program after %.1f ms\n",
                   *window / kCyclesPerMs);
    }
    // A bootloader writes the flash a page at a time; the file is brought up
    // to date as often as the EEPROM's.
    if (!options.flash_path.empty() &&
        board.cycle() - last_flash_check_cycle >= kEepromCheckCycles) {
      last_flash_check_cycle = board.cycle();
      if (!program.SaveIfChanged(board, &error)) std::cerr << "avrboard: " << error << std::endl;
    }

    for (auto& [pin, last] : last_states) {
      const avrboard::PinState state = board.Pin(pin);
      if (state == last) continue;
      last = state;
      if (log.is_open()) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.3f", board.cycle() / kCyclesPerMs);
        log << stamp << " pin " << int{pin} << " " << Describe(state) << std::endl;
      }
    }

    // Caught up with the wall clock: wait for a whole slice to be due, or
    // for the next sent byte's frame to be over, and wake at once for input.
    uint64_t due = board.cycle() + slice_cycles;
    if (std::optional<uint64_t> done = held_output.NextDone()) {
      due = std::min(due, *done + input_lag);
    }
    const uint64_t now = wall_cycle();
    if (due > now) {
      // While nobody has the port open the master only reports a hang-up,
      // so the terminal is watched only while somebody does.
      pollfd watch[2];
      nfds_t watched = 0;
      if (pty && line.InUse()) watch[watched++] = {pty->fd(), POLLIN, 0};
      if (bridge) watch[watched++] = {bridge->fd(), POLLIN, 0};
      const uint64_t wait_ns = (due - now) * 1000 / (avrboard::kClockHz / 1000000);
      const timespec timeout{static_cast<time_t>(wait_ns / 1000000000),
                             static_cast<long>(wait_ns % 1000000000)};
      const auto wait_start = std::chrono::steady_clock::now();
      ppoll(watch, watched, &timeout, nullptr);
      waited_ms +=
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wait_start)
              .count();
    }
  }

  // Whatever the firmware saved last reaches the file even when it was
  // stopped before the next check.
  if (!options.eeprom_path.empty() &&
      !SaveEepromIfChanged(board, options.eeprom_path, &saved_eeprom)) {
    exit_code = 1;
  }
  if (!program.SaveIfChanged(board, &error)) {
    std::cerr << "avrboard: " << error << std::endl;
    exit_code = 1;
  }
  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // The speed without the waits says how much room is left: below 1 the
  // simulation cannot keep up with real time on this machine.
  const double sim_s = board.cycle() / (kCyclesPerMs * 1000);
  const double busy_s = wall_s - waited_ms / 1000;
  std::fprintf(
      stderr,
      "avrboard: stopped; simulated %.3f s in %.3f s, at most %.1f ms behind the wall clock, "
      "unpaced speed %.1fx real time\n",
      sim_s, wall_s, most_behind_ms, busy_s > 0 ? sim_s / busy_s : 0.0);
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  avrboard::Options options;
  if (std::optional<int> status = avrboard::ParseOptions(argc, argv, &options)) return *status;
  return Run(options);
}
