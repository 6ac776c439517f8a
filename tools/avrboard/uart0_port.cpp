#include "uart0_port.h"

#include <cstring>

#include "board_layout.h"
#include "serial_wire.h"
#include "uart_frame.h"

extern "C" {
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_irq.h>
}

namespace avrboard {
namespace {

// UART0's registers, at the same data-space addresses on both chips.
constexpr uint16_t kUcsr0A = 0xC0, kUcsr0B = 0xC1, kUcsr0C = 0xC2, kUbrr0L = 0xC4, kUbrr0H = 0xC5;
constexpr uint8_t kUcsr0ADoubleSpeed = 0x02;     // U2X0
constexpr uint8_t kUcsr0BEnabled = 0x10 | 0x08;  // RXEN0, TXEN0

}  // namespace

void Uart0Port::Attach(avr_t* avr) {
  avr_ = avr;
  // Without this simavr echoes every line the firmware prints to stdout and
  // naps when the firmware polls the UART.
  uint32_t flags = 0;
  avr_ioctl(avr_, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
  flags &= ~(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
  avr_ioctl(avr_, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

  for (avr_io_t* io = avr_->io_port; io != nullptr; io = io->next) {
    if (io->kind != nullptr && std::strcmp(io->kind, "uart") == 0 &&
        reinterpret_cast<avr_uart_t*>(io)->name == '0') {
      uart_ = reinterpret_cast<avr_uart_t*>(io);
      read_cursor_ = uart_->input.read;
    }
  }
  ClearAfterReset();
  input_irq_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                          OnOutput, this);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON), OnXon,
                          this);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                          OnXoff, this);
}

void Uart0Port::Reset() {
  ClearAfterReset();
  input_.clear();
  output_.clear();
  output_cycles_.clear();
  full_ = false;
  if (uart_ != nullptr) read_cursor_ = uart_->input.read;
}

void Uart0Port::ClearAfterReset() {
  // simavr's reset switches UART0's transmitter on, so that a test program
  // can print without setting the UART up; a real chip leaves reset with
  // UCSR0B clear.  Left on, the transmitter would show the UART running at
  // UBRR0's reset value of 0, 1000000 baud, until the firmware's
  // Serial.begin, and avrboard would report that rate as the firmware's.
  if (uart_ != nullptr) avr_regbit_clear(avr_, uart_->txen);
}

void Uart0Port::OnOutput(avr_irq_t*, uint32_t value, void* param) {
  Uart0Port* port = static_cast<Uart0Port*>(param);
  port->output_.push_back(static_cast<char>(value));
  port->output_cycles_.push_back(port->avr_->cycle);
  if (port->observer_) port->observer_(false, static_cast<char>(value), port->avr_->cycle);
}

void Uart0Port::OnXon(avr_irq_t*, uint32_t, void* param) {
  // Only noted here: simavr may signal this from inside the raise in
  // BeforeRun, which must not be re-entered.  The next slice feeds on.
  static_cast<Uart0Port*>(param)->full_ = false;
}

void Uart0Port::OnXoff(avr_irq_t*, uint32_t, void* param) {
  static_cast<Uart0Port*>(param)->full_ = true;
}

void Uart0Port::BeforeRun() {
  // simavr works out a frame's length when the firmware writes UBRR0, with a
  // parity bit whether parity is on or not; the registers say what the wire
  // carries.  Both directions take one frame a byte from it.
  if (uart_ != nullptr && Rate() > 0) {
    const uint64_t frame = FrameCycles();
    if (uart_->cycles_per_byte != frame) uart_->cycles_per_byte = frame;
  }
  size_t fed = 0;
  while (!full_ && fed < input_.size()) {
    avr_raise_irq(input_irq_, static_cast<uint8_t>(input_[fed++]));
  }
  input_.erase(0, fed);
}

void Uart0Port::AfterInstruction() {
  // simavr tells nobody when the firmware takes a byte from UDR0, so its
  // receive queue is looked at after every instruction: the read cursor
  // moves on at the instruction that read the byte.  The Arduino core reads
  // it in its receive interrupt, a few microseconds after it came.
  if (!observer_ || uart_ == nullptr) return;
  while (read_cursor_ != uart_->input.read) {
    observer_(true, static_cast<char>(uart_->input.buffer[read_cursor_]), avr_->cycle);
    read_cursor_ = (read_cursor_ + 1) % uart_fifo_fifo_size;
  }
}

std::string Uart0Port::TakeOutput(std::vector<uint64_t>* cycles) {
  std::string taken;
  taken.swap(output_);
  if (cycles != nullptr) cycles->swap(output_cycles_);
  output_cycles_.clear();
  return taken;
}

uint16_t Uart0Port::Ubrr() const {
  return static_cast<uint16_t>(avr_->data[kUbrr0L] | ((avr_->data[kUbrr0H] & 0x0F) << 8));
}

uint64_t Uart0Port::FrameCycles() const {
  return UartFrameCycles(Ubrr(), avr_->data[kUcsr0A] & kUcsr0ADoubleSpeed, avr_->data[kUcsr0B],
                         avr_->data[kUcsr0C]);
}

double Uart0Port::Rate() const {
  if (!(avr_->data[kUcsr0B] & kUcsr0BEnabled)) return 0;
  return boardsim::UartBaud(kClockHz, Ubrr(), avr_->data[kUcsr0A] & kUcsr0ADoubleSpeed);
}

}  // namespace avrboard
