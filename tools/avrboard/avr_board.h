// An Uno's ATmega328P or a Mega's ATmega2560 in simavr, seen from outside as
// a board: bytes in and out of UART0, levels on the digital inputs, voltages
// on the analog inputs, and the state of the output pins, all by the board's
// Arduino pin numbers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board_layout.h"
#include "firmware_loader.h"
#include "uart0_port.h"
#include "w5100_spi.h"

struct avr_t;
struct elf_firmware_t;

namespace avrboard {

class W5100;

// What drives a pin as a wire attached to it would see.
struct PinState {
  enum class Kind { kInput, kLow, kHigh, kPwm };
  Kind kind = Kind::kInput;
  uint8_t duty = 0;  // kPwm: the compare value, 0..255
  bool operator==(const PinState&) const = default;
};

class AvrBoard {
 public:
  AvrBoard() = default;
  AvrBoard(const AvrBoard&) = delete;
  AvrBoard& operator=(const AvrBoard&) = delete;
  ~AvrBoard();

  using LoadResult = avrboard::LoadResult;
  // Loads an ELF or Intel HEX image into a fresh chip of `layout`.  An image
  // is checked before the chip exists: one that is damaged, larger than the
  // chip's flash or built for another chip is refused with *error saying
  // why (and which --mcu it wants), since simavr would abort, crash or run
  // garbage on it.
  LoadResult Load(const std::string& image_path, const BoardLayout& layout, std::string* error);

  // A fresh chip of `layout` with nothing in its flash.
  LoadResult LoadBlank(const BoardLayout& layout, std::string* error);

  // simavr's own messages ("Loaded 3990 .text", its warnings about the
  // firmware) go to stderr when `verbose`, and nowhere otherwise.  For every
  // board in the process.
  static void ShowSimavrMessages(bool verbose);

  // Resets the chip as its reset pin does: the firmware starts again, with
  // the EEPROM kept and nothing in the UART.
  void Reset();

  // Puts `bytes` into the flash from byte `start` on and makes every reset
  // start there, as a board's BOOTRST fuse in `high_fuse` does: the board's
  // bootloader in its boot section.  The chip restarts at once, as from
  // power-on.  (avr_board_flash.cpp)
  void InstallBootloader(const std::vector<uint8_t>& bytes, uint32_t start, uint8_t high_fuse);
  // The whole program memory as the chip holds it now, what a bootloader
  // wrote included, and new contents for it (the chip's flash size).
  std::vector<uint8_t> Flash() const;
  void SetFlash(const std::vector<uint8_t>& bytes);

  // How long the bootloader ran, from the last reset or power-on until it
  // started the program at address 0: once after each start, nothing
  // meanwhile or without a bootloader.
  std::optional<uint64_t> TakeBootWindowCycles();

  // Runs at least `cycles` clock cycles.  False once the firmware has crashed
  // or stopped, with *error saying which.
  bool Run(uint64_t cycles, std::string* error);
  uint64_t cycle() const;

  // Bytes for UART0's receiver; they enter the chip as fast as its input
  // queue takes them, and then at the programmed baud rate.
  void QueueInput(const std::string& bytes) { uart0_.Queue(bytes); }
  // What the firmware has sent since the last call; with `cycles`, also the
  // cycle each byte left the transmit register at.
  std::string TakeOutput(std::vector<uint64_t>* cycles = nullptr);

  // The rate UART0 runs at as the firmware programmed UBRR0 and U2X0, or 0
  // while neither its receiver nor its transmitter is enabled (before
  // Serial.begin).
  double UartRate() const;
  // Clock cycles one frame of UART0 takes as the firmware set it up.
  uint64_t UartFrameCycles() const;

  void DriveDigital(uint8_t pin, bool high);
  // analog_input is 0..5 for A0..A5; count is 0..1023 of the 5 V reference.
  void DriveAnalog(uint8_t analog_input, int count);

  PinState Pin(uint8_t pin) const;

  // Puts a W5100 on the SPI bus with its chip select on pin 10.  The chip
  // must outlive the board.
  void AttachW5100(W5100* chip);

  // The EEPROM's contents, and new contents for it (layout().eeprom_size
  // bytes).
  std::vector<uint8_t> Eeprom() const;
  void SetEeprom(const std::vector<uint8_t>& bytes);

  // Told of every byte UART0 receives, when the firmware reads it from the
  // receive register (received = true), and of every byte it sends, when
  // the firmware writes it to the transmit register (false), with the cycle
  // of each.
  using UartObserver = Uart0Port::Observer;
  void ObserveUart(UartObserver observer) { uart0_.Observe(std::move(observer)); }

  const BoardLayout& layout() const { return *layout_; }
  // Simulated time since reset.
  uint64_t NowNs() const;

  // The version the loaded image carries in flash after the firmware's
  // mark (firmware/arduino_block/src/firmware_version.h); empty when it
  // carries none.
  std::string FirmwareVersion() const;

 private:
  LoadResult StartChip(std::string* error);
  void WatchBootSection();
  void KeepWiresDriven();

  const BoardLayout* layout_ = nullptr;
  avr_t* avr_ = nullptr;
  // The image as simavr read it, which it never frees itself.
  elf_firmware_t* firmware_ = nullptr;
  Uart0Port uart0_;
  W5100Spi w5100_spi_;
  // The bootloader's run since the last reset, while it has not yet
  // started the program.
  bool in_bootloader_ = false;
  uint64_t boot_reset_cycle_ = 0;
  std::optional<uint64_t> boot_window_cycles_;
  // The level a wire drives each of pins 2..9 with, or -1 for none.
  std::array<int8_t, kLastPin - kFirstPin + 1> driven_ = {-1, -1, -1, -1, -1, -1, -1, -1};
};

}  // namespace avrboard
