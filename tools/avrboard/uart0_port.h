// The chip's UART0 as the board's USB serial port sees it: bytes queued for
// its receiver, bytes its transmitter sent with the cycle of each, and the
// rate and frame the firmware programmed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;

namespace avrboard {

class Uart0Port {
 public:
  // Told of every byte UART0 receives, when the firmware reads it from the
  // receive register (received = true), and of every byte it sends, when
  // the firmware writes it to the transmit register (false), with the cycle
  // of each.
  using Observer = std::function<void(bool received, char byte, uint64_t cycle)>;

  // Takes over UART0 of `avr`, a chip just made.  This object must stay
  // where it is: simavr calls back into it.
  void Attach(avr_t* avr);
  // Forgets what was queued and sent, after the chip's reset.
  void Reset();
  // Undoes what simavr's own reset does to UART0 (see the definition); for
  // resets simavr makes itself, such as the watchdog's.
  void ClearAfterReset();

  void Queue(const std::string& bytes) { input_ += bytes; }
  std::string TakeOutput(std::vector<uint64_t>* cycles);
  void Observe(Observer observer) { observer_ = std::move(observer); }

  // Before a stretch of running: sets simavr's frame length from the
  // registers and hands the receiver what it has room for.
  void BeforeRun();
  // After each instruction: tells the observer of bytes the firmware read.
  void AfterInstruction();

  double Rate() const;
  uint64_t FrameCycles() const;

 private:
  static void OnOutput(avr_irq_t* irq, uint32_t value, void* param);
  static void OnXon(avr_irq_t* irq, uint32_t value, void* param);
  static void OnXoff(avr_irq_t* irq, uint32_t value, void* param);
  uint16_t Ubrr() const;

  avr_t* avr_ = nullptr;
  // simavr's UART0 and where the firmware had read its receive queue to at
  // the last look.
  avr_uart_t* uart_ = nullptr;
  uint16_t read_cursor_ = 0;
  avr_irq_t* input_irq_ = nullptr;
  bool full_ = false;
  std::string input_;
  std::string output_;
  std::vector<uint64_t> output_cycles_;
  Observer observer_;
};

}  // namespace avrboard
