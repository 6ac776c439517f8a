#include "avr_board.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "firmware_loader.h"
#include "line_speed.h"
#include "uart_frame.h"

extern "C" {
#include <avr_adc.h>
#include <avr_eeprom.h>
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_irq.h>
}

namespace avrboard {
namespace {

constexpr uint32_t kMillivolts = 5000;

// UART0's registers, at the same data-space addresses on both chips.
constexpr uint16_t kUcsr0A = 0xC0, kUcsr0B = 0xC1, kUcsr0C = 0xC2, kUbrr0L = 0xC4, kUbrr0H = 0xC5;
constexpr uint8_t kUcsr0ADoubleSpeed = 0x02;     // U2X0
constexpr uint8_t kUcsr0BEnabled = 0x10 | 0x08;  // RXEN0, TXEN0

// simavr would otherwise usleep whenever the chip sleeps; avrboard keeps
// pace with the wall clock itself.
void NoSleep(avr_t*, avr_cycle_count_t) {}

bool g_show_simavr_messages = false;

// simavr's logger for every chip and for the file readers (which log with no
// chip), so that one switch quiets them all.
void SimavrLogger(avr_t*, const int, const char* format, va_list arguments) {
  if (g_show_simavr_messages) std::vfprintf(stderr, format, arguments);
}

}  // namespace

void AvrBoard::ShowSimavrMessages(bool verbose) {
  g_show_simavr_messages = verbose;
  avr_global_logger_set(SimavrLogger);
}

AvrBoard::~AvrBoard() {
  if (avr_ != nullptr) avr_terminate(avr_);
  if (firmware_ == nullptr) return;
  // The chip holds its own copy of the program, so the image read from the
  // file can go once the chip has stopped.
  FreeFirmware(firmware_);
  delete firmware_;
}

AvrBoard::LoadResult AvrBoard::Load(const std::string& image_path, const BoardLayout& layout,
                                    std::string* error) {
  layout_ = &layout;
  firmware_ = new elf_firmware_t{};
  elf_firmware_t& firmware = *firmware_;
  if (const LoadResult read = ReadFirmware(image_path, layout, firmware_, error);
      read != LoadResult::kLoaded) {
    return read;
  }

  // Debian's build leaves no .mmcu section in the ELF, and a HEX file has
  // none, so the chip and its clock are set here, from the board.
  avr_ = avr_make_mcu_by_name(layout.mcu);
  if (avr_ == nullptr || avr_init(avr_) != 0) {
    *error = std::string("simavr cannot make an ") + layout.mcu;
    return LoadResult::kBadImage;
  }
  firmware.frequency = kClockHz;
  firmware.vcc = firmware.avcc = firmware.aref = kMillivolts;
  avr_load_firmware(avr_, &firmware);
  avr_->sleep = NoSleep;

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
      uart_read_cursor_ = uart_->input.read;
    }
  }
  ClearUartAfterReset();
  uart_input_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                          OnUartOutput, this);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON),
                          OnUartXon, this);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                          OnUartXoff, this);
  return LoadResult::kLoaded;
}

void AvrBoard::OnUartOutput(avr_irq_t*, uint32_t value, void* param) {
  AvrBoard* board = static_cast<AvrBoard*>(param);
  board->output_.push_back(static_cast<char>(value));
  board->output_cycles_.push_back(board->cycle());
  if (board->uart_observer_) board->uart_observer_(false, static_cast<char>(value), board->cycle());
}

void AvrBoard::OnUartXon(avr_irq_t*, uint32_t, void* param) {
  // Only noted here: simavr may signal this from inside the raise in
  // FeedUart, which must not be re-entered.  The next slice feeds on.
  static_cast<AvrBoard*>(param)->uart_full_ = false;
}

void AvrBoard::OnUartXoff(avr_irq_t*, uint32_t, void* param) {
  static_cast<AvrBoard*>(param)->uart_full_ = true;
}

void AvrBoard::FeedUart() {
  size_t fed = 0;
  while (!uart_full_ && fed < input_.size()) {
    avr_raise_irq(uart_input_, static_cast<uint8_t>(input_[fed++]));
  }
  input_.erase(0, fed);
}

void AvrBoard::ClearUartAfterReset() {
  // simavr's reset switches UART0's transmitter on, so that a test program
  // can print without setting the UART up; a real chip leaves reset with
  // UCSR0B clear.  Left on, the transmitter would show the UART running at
  // UBRR0's reset value of 0, 1000000 baud, until the firmware's
  // Serial.begin, and avrboard would report that rate as the firmware's.
  if (uart_ != nullptr) avr_regbit_clear(avr_, uart_->txen);
}

bool AvrBoard::Run(uint64_t cycles, std::string* error) {
  // simavr works out a frame's length when the firmware writes UBRR0, with a
  // parity bit whether parity is on or not; the registers say what the wire
  // carries.  Both directions take one frame a byte from it.
  if (uart_ != nullptr && UartRate() > 0) {
    const uint64_t frame = UartFrameCycles();
    if (uart_->cycles_per_byte != frame) uart_->cycles_per_byte = frame;
  }
  FeedUart();
  KeepWiresDriven();
  const uint64_t until = avr_->cycle + cycles;
  while (avr_->cycle < until) {
    const int state = avr_run(avr_);
    if (state == cpu_Done || state == cpu_Crashed) {
      *error = state == cpu_Crashed ? "the firmware crashed" : "the firmware stopped";
      return false;
    }
    // simavr tells nobody when the firmware takes a byte from UDR0, so its
    // receive queue is looked at after every instruction: the read cursor
    // moves on at the instruction that read the byte.  The Arduino core
    // reads it in its receive interrupt, a few microseconds after it came.
    if (uart_observer_ && uart_ != nullptr) {
      while (uart_read_cursor_ != uart_->input.read) {
        uart_observer_(true, static_cast<char>(uart_->input.buffer[uart_read_cursor_]),
                       avr_->cycle);
        uart_read_cursor_ = (uart_read_cursor_ + 1) % uart_fifo_fifo_size;
      }
    }
  }
  return true;
}

void AvrBoard::Reset() {
  avr_reset(avr_);
  ClearUartAfterReset();
  input_.clear();
  output_.clear();
  output_cycles_.clear();
  uart_full_ = false;
  if (uart_ != nullptr) uart_read_cursor_ = uart_->input.read;
  w5100_spi_.Reset();
  // The reset clears the port registers, but a wire on a pin keeps its
  // level.  simavr passes on only changes of an IRQ's value, so the level
  // goes through its opposite to be seen again.
  for (uint8_t pin = kFirstPin; pin <= kLastPin; ++pin) {
    const int8_t level = driven_[pin - kFirstPin];
    if (level < 0) continue;
    DriveDigital(pin, level == 0);
    DriveDigital(pin, level == 1);
  }
}

void AvrBoard::KeepWiresDriven() {
  // A pin the firmware drove as an output reads what it drove until simavr
  // hears of the wire again; the wire's source never went away, so once the
  // pin is an input it reads the wire's level.  PINx sits just below DDRx.
  for (uint8_t pin = kFirstPin; pin <= kLastPin; ++pin) {
    const int8_t level = driven_[pin - kFirstPin];
    if (level < 0) continue;
    const PinSite& site = layout_->pins[pin - kFirstPin];
    const uint8_t mask = static_cast<uint8_t>(1u << site.bit);
    if (avr_->data[site.ddr] & mask) continue;
    if (((avr_->data[site.ddr - 1] & mask) != 0) == (level == 1)) continue;
    DriveDigital(pin, level == 0);
    DriveDigital(pin, level == 1);
  }
}

uint64_t AvrBoard::cycle() const { return avr_->cycle; }

uint64_t AvrBoard::NowNs() const { return avr_->cycle * 1000000000ull / kClockHz; }

void AvrBoard::AttachW5100(W5100* chip) { w5100_spi_.Attach(avr_, *layout_, chip); }

std::vector<uint8_t> AvrBoard::Eeprom() const {
  std::vector<uint8_t> bytes(layout_->eeprom_size);
  avr_eeprom_desc_t desc{bytes.data(), 0, static_cast<uint32_t>(bytes.size())};
  avr_ioctl(avr_, AVR_IOCTL_EEPROM_GET, &desc);
  // Depending on simavr's version the call copies or points at the bytes.
  if (desc.ee != bytes.data()) bytes.assign(desc.ee, desc.ee + bytes.size());
  return bytes;
}

void AvrBoard::SetEeprom(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> copy = bytes;
  avr_eeprom_desc_t desc{copy.data(), 0, static_cast<uint32_t>(copy.size())};
  avr_ioctl(avr_, AVR_IOCTL_EEPROM_SET, &desc);
}

std::string AvrBoard::TakeOutput(std::vector<uint64_t>* cycles) {
  std::string taken;
  taken.swap(output_);
  if (cycles != nullptr) {
    cycles->swap(output_cycles_);
  }
  output_cycles_.clear();
  return taken;
}

uint64_t AvrBoard::UartFrameCycles() const {
  const uint16_t ubrr =
      static_cast<uint16_t>(avr_->data[kUbrr0L] | ((avr_->data[kUbrr0H] & 0x0F) << 8));
  return avrboard::UartFrameCycles(ubrr, avr_->data[kUcsr0A] & kUcsr0ADoubleSpeed,
                                   avr_->data[kUcsr0B], avr_->data[kUcsr0C]);
}

double AvrBoard::UartRate() const {
  if (!(avr_->data[kUcsr0B] & kUcsr0BEnabled)) return 0;
  const uint16_t ubrr =
      static_cast<uint16_t>(avr_->data[kUbrr0L] | ((avr_->data[kUbrr0H] & 0x0F) << 8));
  return boardsim::UartBaud(kClockHz, ubrr, avr_->data[kUcsr0A] & kUcsr0ADoubleSpeed);
}

void AvrBoard::DriveDigital(uint8_t pin, bool high) {
  const PinSite& site = layout_->pins[pin - kFirstPin];
  driven_[pin - kFirstPin] = high ? 1 : 0;
  avr_raise_irq(avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ(site.port), site.bit), high ? 1 : 0);
}

void AvrBoard::DriveAnalog(uint8_t analog_input, int count) {
  const uint8_t channel = layout_->adc_channel[analog_input];
  // simavr converts millivolts as floor(mV * 1023 / reference); rounding the
  // voltage up makes that come out at exactly `count`.
  const uint32_t millivolts = (static_cast<uint32_t>(count) * kMillivolts + 1022) / 1023;
  avr_raise_irq(avr_io_getirq(avr_, AVR_IOCTL_ADC_GETIRQ, ADC_IRQ_ADC0 + channel), millivolts);
}

PinState AvrBoard::Pin(uint8_t pin) const {
  const PinSite& site = layout_->pins[pin - kFirstPin];
  const uint8_t mask = static_cast<uint8_t>(1u << site.bit);
  if (!(avr_->data[site.ddr] & mask)) return {PinState::Kind::kInput, 0};
  for (uint8_t i = 0; i < layout_->pwm_count; ++i) {
    const PwmChannel& channel = layout_->pwm[i];
    if (channel.pin == pin && (avr_->data[channel.control] & (1u << channel.enable_bit))) {
      return {PinState::Kind::kPwm, avr_->data[channel.compare]};
    }
  }
  const bool high = avr_->data[site.out] & mask;
  return {high ? PinState::Kind::kHigh : PinState::Kind::kLow, 0};
}

std::string AvrBoard::FirmwareVersion() const {
  if (firmware_ == nullptr || firmware_->flash == nullptr) return "";
  // Kept in step with firmware/arduino_block/src/firmware_version.h.
  static const std::string kMark = "@(#)arduino-block firmware ";
  const char* flash = reinterpret_cast<const char*>(firmware_->flash);
  const std::string_view image(flash, firmware_->flashsize);
  const size_t mark = image.find(kMark);
  if (mark == std::string_view::npos) return "";
  // A version is short and printable; anything else ends it.
  std::string version;
  for (size_t i = mark + kMark.size(); i < image.size() && version.size() < 64; ++i) {
    if (image[i] < 0x21 || image[i] > 0x7E) break;
    version += image[i];
  }
  return version;
}

}  // namespace avrboard
