// avrboard: the compiled board firmware on a simulated ATmega328P (Uno) or
// ATmega2560 (Mega 2560), paced to the wall clock, with UART0 on a
// pseudo-terminal.  Tests point the block's serial link at the terminal and
// read the pins' history from --log.
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "avr_board.h"
#include "board_pins.h"
#include "line_watch.h"
#include "options.h"
#include "pty_link.h"

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) { g_stop_signal = signal_number; }

// One slice of simulated time between looks at the terminal and the pins:
// short against a byte at 9600 baud (about 1 ms), long enough that the
// bookkeeping costs little next to the simulation.
constexpr uint64_t kSliceCycles = avrboard::kClockHz / 2000;  // 0.5 ms
constexpr double kCyclesPerMs = avrboard::kClockHz / 1000.0;

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

int Run(const avrboard::Options& options) {
  avrboard::AvrBoard board;
  std::string error;
  const avrboard::BoardLayout& layout = *avrboard::LayoutOfMcu(options.mcu);
  if (!board.Load(options.firmware_path, layout, &error)) {
    std::cerr << "avrboard: " << error << "\n";
    return 1;
  }
  const std::string firmware_version = board.FirmwareVersion();
  std::cerr << "avrboard: firmware "
            << (firmware_version.empty() ? "without a version" : "version " + firmware_version)
            << std::endl;
  std::ofstream log;
  if (!options.log_path.empty()) {
    log.open(options.log_path, std::ios::trunc);
    if (!log) {
      std::cerr << "avrboard: cannot write log file '" << options.log_path << "'\n";
      return 1;
    }
  }
  std::optional<boardsim::PtyLink> pty = boardsim::PtyLink::Open(options.pty_path, &error);
  if (!pty) {
    std::cerr << "avrboard: " << error << "\n";
    return 1;
  }

  avrboard::LineWatch line;
  if (!line.Start(pty->slave_name(), &error)) {
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

  std::cerr << "avrboard: ready, " << layout.chip << " at 16 MHz running " << options.firmware_path
            << ", serial on " << options.pty_path << " (" << pty->slave_name() << ")" << std::endl;

  const auto started = std::chrono::steady_clock::now();
  double most_behind_ms = 0;
  double waited_ms = 0;
  int exit_code = 0;
  while (g_stop_signal == 0) {
    const double now_ms = board.cycle() / kCyclesPerMs;
    for (const auto& [pin, source] : options.analog) {
      board.DriveAnalog(static_cast<uint8_t>(pin - board::kFirstAnalogPin),
                        boardsim::EvaluateAnalogSource(source, static_cast<int64_t>(now_ms), 0));
    }
    // An Uno resets when a program opens its port, and what the old
    // firmware said but nobody read is gone with the line.
    if (line.Update()) {
      pty->DiscardUnread();
      board.Reset();
    }
    std::string bytes;
    pty->Read(&bytes);
    board.QueueInput(bytes);
    if (!board.Run(kSliceCycles, &error)) {
      std::cerr << "avrboard: " << error << " at " << now_ms << " ms\n";
      exit_code = 1;
      break;
    }
    const std::string output = board.TakeOutput();
    // With nobody reading the terminal the reply is lost, as on a real line;
    // while the port is closed nothing is even written.
    if (!output.empty() && line.InUse()) (void)pty->Write(output, &error);

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

    // Keep simulated time on the wall clock: the firmware's millis() then
    // means what the block expects.  Ahead, wait (and still wake at once for
    // input); behind, note how far, since replies then come late.
    const double sim_ms = board.cycle() / kCyclesPerMs;
    const double wall_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    if (sim_ms > wall_ms + 1) {
      const auto wait_start = std::chrono::steady_clock::now();
      pty->WaitForInput(static_cast<int>(sim_ms - wall_ms));
      waited_ms +=
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wait_start)
              .count();
    } else if (wall_ms - sim_ms > most_behind_ms) {
      most_behind_ms = wall_ms - sim_ms;
    }
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
