// One run of avrboard: the chip paced to the wall clock, its UART on the
// terminal, its W5100 on the loopback wire, its pins in the log and its
// EEPROM in the file.  Each pass of the loop takes the steps in this order:
// catch the chip up with the wall clock, serve the terminal, serve Ethernet,
// save the EEPROM and the flash when due, log the pins, and sleep until something is due;
// at the end the session reports how it kept pace, and on SIGUSR1 in between.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "avr_board.h"
#include "avrboard_command_line.h"
#include "exchange_log.h"
#include "held_output.h"
#include "line_speeds.h"
#include "line_watch.h"
#include "loopback_bridge.h"
#include "pace_meter.h"
#include "program_memory.h"
#include "pty_link.h"
#include "usb_bridge.h"
#include "w5100.h"

namespace avrboard {

// What avrboard's signal handlers tell the run; the loop looks at each once
// a pass.  Lock-free atomics, so that a handler may set them and the loop
// take them without losing one that comes in between.
struct RunSignals {
  static_assert(std::atomic<int>::is_always_lock_free);
  std::atomic<int> stop{0};          // SIGINT or SIGTERM: end the run
  std::atomic<bool> resumed{false};  // SIGCONT: the process was stopped until now
  std::atomic<bool> report{false};   // SIGUSR1: report the pace since the last report
};

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the firmware and opens the files and links the options name.
  // Nothing when all is ready; otherwise the exit status, the reason said.
  std::optional<int> Start();

  // Says it is ready, runs until `signals.stop` is set or the firmware
  // fails, and reports; returns the exit status.
  int Run(RunSignals& signals);

 private:
  // The steps of Start.
  std::optional<int> LoadFirmware();
  bool OpenFiles();
  bool OpenLinks();
  void ObserveExchanges();
  void SayReady() const;

  // The steps of one pass of Run; false when the firmware failed.
  uint64_t SliceCycles() const;
  bool CatchUp(uint64_t slice_cycles);
  bool ServeTerminal(uint64_t slice_cycles);
  void ServeEthernet();
  void ReportNetworkSettings();
  void SaveEepromWhenDue();
  void SaveFlashWhenDue();
  // Whether the chip has only its bootloader, and what writes it a program.
  bool HoldsNoProgramNow() const;
  std::string FlashHint() const;
  void LogPins();
  void Sleep(uint64_t slice_cycles);
  void ReportPace();
  int Report(int exit_code);

  // The chip's cycle the wall clock has reached since the start.
  uint64_t WallCycle() const;
  // Writes to the terminal what has left the wire by now.
  void WriteDone();
  // Runs the chip up to `until`; false when the firmware failed.
  bool AdvanceTo(uint64_t until);
  bool SaveEepromIfChanged();

  const Options& options_;
  const BoardLayout* layout_ = nullptr;
  std::string error_;
  // Declared before the board, which holds a pointer to it, so that it
  // outlives the board.
  W5100 w5100_;
  AvrBoard board_;
  std::vector<uint8_t> saved_eeprom_;
  uint64_t last_eeprom_check_cycle_ = 0;
  ProgramMemory program_;
  uint64_t last_flash_check_cycle_ = 0;
  std::ofstream log_;
  std::ofstream exchanges_file_;
  std::optional<ExchangeRecorder> exchanges_;
  std::optional<boardsim::PtyLink> pty_;
  std::optional<LoopbackBridge> bridge_;
  NetworkSettings reported_settings_;
  NetworkSettings previous_settings_;
  LineWatch line_;
  LineSpeeds speeds_;
  std::map<uint8_t, PinState> last_states_;

  std::chrono::steady_clock::time_point started_;
  HeldOutput held_output_;
  // The board's USB bridge, which holds the bytes once their frames are
  // over (none by default: each goes as its frame ends).
  UsbBridge usb_bridge_{options_.bridge, kClockHz};
  // How far the chip's time trailed the wall clock when it last took bytes
  // in.  A chip that falls behind takes a command at once and answers as it
  // catches up; its reply is held by the same lag, so that it comes no
  // sooner after the command than the wire would bring it.
  uint64_t input_lag_ = 0;
  PaceMeter pace_{kClockHz};
  // The time the process was stopped by a signal, by which the wall clock
  // is set back.
  uint64_t stopped_cycles_ = 0;
  double waited_ms_ = 0;
};

}  // namespace avrboard
