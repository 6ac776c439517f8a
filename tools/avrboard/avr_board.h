// An Uno's ATmega328P in simavr, seen from outside as a board: bytes in and
// out of UART0, levels on the digital inputs, voltages on the analog inputs,
// and the state of the output pins.
#ifndef AVRBOARD_AVR_BOARD_H_
#define AVRBOARD_AVR_BOARD_H_

#include <array>
#include <cstdint>
#include <string>

struct avr_t;
struct avr_irq_t;
struct elf_firmware_t;

namespace avrboard {

constexpr uint32_t kClockHz = 16000000;
constexpr uint8_t kFirstPin = 2;
constexpr uint8_t kLastPin = 9;

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

  // Loads the ELF into a fresh ATmega328P.  False with *error set when the
  // file is not a firmware image or simavr cannot make the chip.
  bool Load(const std::string& elf_path, std::string* error);

  // Runs at least `cycles` clock cycles.  False once the firmware has crashed
  // or stopped, with *error saying which.
  bool Run(uint64_t cycles, std::string* error);
  uint64_t cycle() const;

  // Bytes for UART0's receiver; they enter the chip as fast as its input
  // queue takes them, and then at the programmed baud rate.
  void QueueInput(const std::string& bytes) { input_ += bytes; }
  // What the firmware has sent since the last call.
  std::string TakeOutput();

  void DriveDigital(uint8_t pin, bool high);
  // count is 0..1023 of the 5 V reference.
  void DriveAnalog(uint8_t channel, int count);

  PinState Pin(uint8_t pin) const;

  // The version the loaded image carries in flash after the firmware's
  // mark (firmware/arduino_block/src/firmware_version.h); empty when it
  // carries none.
  std::string FirmwareVersion() const;

 private:
  static void OnUartOutput(avr_irq_t* irq, uint32_t value, void* param);
  static void OnUartXon(avr_irq_t* irq, uint32_t value, void* param);
  static void OnUartXoff(avr_irq_t* irq, uint32_t value, void* param);
  void FeedUart();

  avr_t* avr_ = nullptr;
  // The image as simavr read it, which it never frees itself.
  elf_firmware_t* firmware_ = nullptr;
  avr_irq_t* uart_input_ = nullptr;
  bool uart_full_ = false;
  std::string input_;
  std::string output_;
};

}  // namespace avrboard

#endif  // AVRBOARD_AVR_BOARD_H_
