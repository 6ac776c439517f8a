#include "avr_board.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "firmware_image.h"
#include "line_speed.h"
#include "uart_timing.h"
#include "w5100.h"

extern "C" {
#include <avr_adc.h>
#include <avr_eeprom.h>
#include <avr_ioport.h>
#include <avr_spi.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_irq.h>
}

namespace avrboard {
namespace {

constexpr uint32_t kMillivolts = 5000;

// Data-space addresses of the registers behind pins 2..9 and their PWM
// channels.  Reading them directly gives the state the pins are in, which is
// what a wire on the pin sees; simavr's pin IRQs only report writes.
namespace m328p {
constexpr uint16_t kDdrB = 0x24, kPortB = 0x25, kDdrD = 0x2A, kPortD = 0x2B;
constexpr uint16_t kTccr0A = 0x44, kOcr0A = 0x47, kOcr0B = 0x48;
constexpr uint16_t kTccr1A = 0x80, kOcr1AL = 0x88;
constexpr uint16_t kTccr2A = 0xB0, kOcr2B = 0xB4;
}  // namespace m328p

namespace m2560 {
constexpr uint16_t kDdrE = 0x2D, kPortE = 0x2E, kDdrG = 0x33, kPortG = 0x34;
constexpr uint16_t kDdrH = 0x101, kPortH = 0x102;
constexpr uint16_t kTccr0A = 0x44, kOcr0B = 0x48;
constexpr uint16_t kTccr2A = 0xB0, kOcr2B = 0xB4;
constexpr uint16_t kTccr3A = 0x90, kOcr3AL = 0x98, kOcr3BL = 0x9A, kOcr3CL = 0x9C;
constexpr uint16_t kTccr4A = 0xA0, kOcr4AL = 0xA8, kOcr4BL = 0xAA, kOcr4CL = 0xAC;
}  // namespace m2560

// UART0's registers, at the same data-space addresses on both chips.
constexpr uint16_t kUcsr0A = 0xC0, kUcsr0B = 0xC1, kUcsr0C = 0xC2, kUbrr0L = 0xC4, kUbrr0H = 0xC5;
constexpr uint8_t kUcsr0ADoubleSpeed = 0x02;     // U2X0
constexpr uint8_t kUcsr0BEnabled = 0x10 | 0x08;  // RXEN0, TXEN0

// MCUSR, at the same data-space address on both chips.
constexpr uint16_t kMcusr = 0x54;
constexpr uint8_t kMcusrExternalReset = 0x02;  // EXTRF

// The SPI registers, at the same data-space addresses on both chips.
constexpr uint16_t kSpcr = 0x4C, kSpsr = 0x4D, kSpdr = 0x4E;
constexpr uint8_t kSpcrMaster = 0x10, kSpsrDouble = 0x01;

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

// Uno: pins 2..7 are PD2..PD7, 8 and 9 are PB0 and PB1; timers drive 3, 5, 6
// and 9; A0..A5 are ADC0..ADC5 on port C.
const BoardLayout kUnoLayout = {
    "atmega328p",
    "ATmega328P",
    {{'D', 2, m328p::kDdrD, m328p::kPortD},
     {'D', 3, m328p::kDdrD, m328p::kPortD},
     {'D', 4, m328p::kDdrD, m328p::kPortD},
     {'D', 5, m328p::kDdrD, m328p::kPortD},
     {'D', 6, m328p::kDdrD, m328p::kPortD},
     {'D', 7, m328p::kDdrD, m328p::kPortD},
     {'B', 0, m328p::kDdrB, m328p::kPortB},
     {'B', 1, m328p::kDdrB, m328p::kPortB}},
    {{3, m328p::kTccr2A, 5, m328p::kOcr2B},
     {5, m328p::kTccr0A, 5, m328p::kOcr0B},
     {6, m328p::kTccr0A, 7, m328p::kOcr0A},
     {9, m328p::kTccr1A, 7, m328p::kOcr1AL}},
    4,
    {0, 1, 2, 3, 4, 5},
    2,  // PB2
    1024,
};

// Mega 2560: pins 2, 3 and 5 are PE4, PE5 and PE3, pin 4 is PG5, 6..9 are
// PH3..PH6, and a timer channel serves each of them (the Arduino core runs
// timers 3 and 4 as 8-bit PWM, so the low compare byte is the duty); A0..A5
// are ADC0..ADC5 on port F.
const BoardLayout kMega2560Layout = {
    "atmega2560",
    "ATmega2560",
    {{'E', 4, m2560::kDdrE, m2560::kPortE},
     {'E', 5, m2560::kDdrE, m2560::kPortE},
     {'G', 5, m2560::kDdrG, m2560::kPortG},
     {'E', 3, m2560::kDdrE, m2560::kPortE},
     {'H', 3, m2560::kDdrH, m2560::kPortH},
     {'H', 4, m2560::kDdrH, m2560::kPortH},
     {'H', 5, m2560::kDdrH, m2560::kPortH},
     {'H', 6, m2560::kDdrH, m2560::kPortH}},
    {{2, m2560::kTccr3A, 5, m2560::kOcr3BL},
     {3, m2560::kTccr3A, 3, m2560::kOcr3CL},
     {4, m2560::kTccr0A, 5, m2560::kOcr0B},
     {5, m2560::kTccr3A, 7, m2560::kOcr3AL},
     {6, m2560::kTccr4A, 7, m2560::kOcr4AL},
     {7, m2560::kTccr4A, 5, m2560::kOcr4BL},
     {8, m2560::kTccr4A, 3, m2560::kOcr4CL},
     {9, m2560::kTccr2A, 5, m2560::kOcr2B}},
    8,
    {0, 1, 2, 3, 4, 5},
    4,  // PB4
    4096,
};

const BoardLayout* LayoutOfMcu(const std::string& mcu) {
  for (const BoardLayout* layout : {&kUnoLayout, &kMega2560Layout}) {
    if (mcu == layout->mcu) return layout;
  }
  return nullptr;
}

void AvrBoard::ShowSimavrMessages(bool verbose) {
  g_show_simavr_messages = verbose;
  avr_global_logger_set(SimavrLogger);
}

AvrBoard::~AvrBoard() {
  if (avr_ != nullptr) avr_terminate(avr_);
  if (firmware_ == nullptr) return;
  // The chip holds its own copy of the program, so the image read from the
  // file can go once the chip has stopped.
  free(firmware_->flash);
  free(firmware_->eeprom);
  free(firmware_->fuse);
  free(firmware_->lockbits);
  for (uint32_t i = 0; i < firmware_->symbolcount; ++i) free(firmware_->symbol[i]);
  free(firmware_->symbol);
  delete firmware_;
}

AvrBoard::LoadResult AvrBoard::Load(const std::string& image_path, const BoardLayout& layout,
                                    std::string* error) {
  layout_ = &layout;
  firmware_ = new elf_firmware_t{};
  elf_firmware_t& firmware = *firmware_;
  const std::string cannot = "cannot load firmware '" + image_path + "': ";
  std::ifstream file(image_path, std::ios::binary);
  std::ostringstream read;
  read << file.rdbuf();
  if (!file.is_open() || file.bad()) {
    *error = cannot + std::strerror(errno);
    return LoadResult::kBadImage;
  }
  const std::string contents = read.str();
  if (contents.empty()) {
    *error = cannot + "the file is empty, or a folder";
    return LoadResult::kBadImage;
  }

  ImageFacts facts;
  std::string why;
  switch (FormatOf(contents)) {
    case ImageFormat::kElf: {
      facts.elf_arch = ElfAvrArchitecture(contents, &why);
      if (!facts.elf_arch) {
        *error = cannot + why;
        return LoadResult::kBadImage;
      }
      // simavr accepts some files it cannot make sense of and loads
      // nothing, so an empty program counts as a failure too.
      if (elf_read_firmware(image_path.c_str(), &firmware) != 0 || firmware.flash == nullptr ||
          firmware.flashsize == 0) {
        *error = cannot + "an AVR ELF file without a program simavr can read";
        return LoadResult::kBadImage;
      }
      facts.flash.assign(firmware.flashbase, 0xFF);
      facts.flash.insert(facts.flash.end(), firmware.flash, firmware.flash + firmware.flashsize);
      facts.mmcu.assign(firmware.mmcu, strnlen(firmware.mmcu, sizeof firmware.mmcu));
      break;
    }
    case ImageFormat::kIntelHex: {
      uint32_t largest = 0;
      for (const ChipTraits& chip : kChips) largest = std::max(largest, chip.flash_size);
      std::optional<std::vector<uint8_t>> flash = ParseIntelHex(contents, largest, &why);
      if (!flash) {
        *error = cannot + "Intel HEX, but " + why;
        return LoadResult::kBadImage;
      }
      facts.flash = std::move(*flash);
      // Held as simavr holds an ELF's program, so both are freed alike.
      firmware.flash = static_cast<uint8_t*>(malloc(facts.flash.size()));
      if (firmware.flash == nullptr) {
        *error = cannot + "out of memory";
        return LoadResult::kBadImage;
      }
      std::memcpy(firmware.flash, facts.flash.data(), facts.flash.size());
      firmware.flashsize = static_cast<uint32_t>(facts.flash.size());
      break;
    }
    case ImageFormat::kUnknown:
      *error = cannot + "neither an ELF file nor Intel HEX";
      return LoadResult::kBadImage;
  }
  // The chip is made only for an image that suits it: simavr aborts on a
  // program larger than the flash, and an image for the other chip runs
  // into registers and vectors that are not where it expects them.
  const std::string mismatch = MismatchWithChip(facts, *ChipTraitsOf(layout.mcu));
  if (!mismatch.empty()) {
    *error = cannot + mismatch;
    return LoadResult::kOtherChip;
  }

  return StartChip(error);
}

AvrBoard::LoadResult AvrBoard::LoadBlank(const BoardLayout& layout, std::string* error) {
  layout_ = &layout;
  firmware_ = new elf_firmware_t{};
  // Erased flash, as a board with only its bootloader has below it.
  const uint32_t size = ChipTraitsOf(layout.mcu)->flash_size;
  firmware_->flash = static_cast<uint8_t*>(malloc(size));
  if (firmware_->flash == nullptr) {
    *error = "cannot make a blank flash: out of memory";
    return LoadResult::kBadImage;
  }
  std::memset(firmware_->flash, 0xFF, size);
  firmware_->flashsize = size;
  return StartChip(error);
}

AvrBoard::LoadResult AvrBoard::StartChip(std::string* error) {
  const BoardLayout& layout = *layout_;
  elf_firmware_t& firmware = *firmware_;
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
    if (avr_->reset_pc != 0) WatchBootSection();
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
  // The reset pin leaves its flag in MCUSR, by which optiboot tells an open
  // of the port from a power-on or its own watchdog's reset.
  avr_->data[kMcusr] |= kMcusrExternalReset;
  in_bootloader_ = avr_->reset_pc != 0;
  boot_reset_cycle_ = avr_->cycle;
  ClearUartAfterReset();
  input_.clear();
  output_.clear();
  output_cycles_.clear();
  uart_full_ = false;
  if (uart_ != nullptr) uart_read_cursor_ = uart_->input.read;
  if (w5100_ != nullptr) w5100_->Reset();
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

void AvrBoard::AttachW5100(W5100* chip) {
  w5100_ = chip;
  // The ATmega328P's and the ATmega2560's one SPI port is simavr's port 0.
  spi_input_ = avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_OUTPUT), OnSpiOutput,
                          this);
  avr_irq_register_notify(
      avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('B'), layout_->ethernet_select_bit), OnChipSelect,
      this);
  for (avr_io_t* io = avr_->io_port; io != nullptr; io = io->next) {
    if (io->kind != nullptr && std::strcmp(io->kind, "spi") == 0) spi_io_ = io;
  }
  // simavr shares the register between its SPI and this second writer,
  // calling them in the order they registered.
  if (spi_io_ != nullptr) avr_register_io_write(avr_, kSpdr, OnSpdrWrite, this);
}

void AvrBoard::OnSpdrWrite(avr_t* avr, avr_io_addr_t, uint8_t, void* param) {
  AvrBoard* board = static_cast<AvrBoard*>(param);
  // simavr 1.6 finishes every SPI byte 100 us after the write to SPDR,
  // whatever the clock, which makes one W5100 frame take 400 us instead of
  // 4.  Its timer is moved to when the byte's 8 clocks are done: 2 to 128
  // CPU cycles each, as SPR1:0 and SPI2X set.
  if (!(avr->data[kSpcr] & kSpcrMaster)) return;
  for (avr_cycle_timer_slot_p slot = avr->cycle_timers.timer; slot != nullptr; slot = slot->next) {
    if (slot->param != board->spi_io_) continue;
    static constexpr uint32_t kDividers[4] = {4, 16, 64, 128};
    uint32_t divider = kDividers[avr->data[kSpcr] & 3];
    if (avr->data[kSpsr] & kSpsrDouble) divider /= 2;
    const avr_cycle_timer_t timer = slot->timer;
    avr_cycle_timer_cancel(avr, timer, board->spi_io_);
    avr_cycle_timer_register(avr, 8 * divider, timer, board->spi_io_);
    return;
  }
}

void AvrBoard::OnSpiOutput(avr_irq_t*, uint32_t value, void* param) {
  AvrBoard* board = static_cast<AvrBoard*>(param);
  // simavr raises this when a byte the firmware wrote to SPDR has been
  // shifted out; the answer raised back lands in SPDR before the firmware
  // sees SPIF.  A chip that is not selected leaves MISO alone.
  if (!board->w5100_->selected()) return;
  const uint8_t miso = board->w5100_->Transfer(static_cast<uint8_t>(value), board->NowNs());
  avr_raise_irq(board->spi_input_, miso);
}

void AvrBoard::OnChipSelect(avr_irq_t*, uint32_t value, void* param) {
  static_cast<AvrBoard*>(param)->w5100_->Select(value == 0);
}

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
  if (avr_ == nullptr) return "";
  // Kept in step with firmware/arduino_block/src/firmware_version.h.  The
  // chip's flash, not the image, since a flash file or a bootloader may
  // have put another program there.
  static const std::string kMark = "@(#)arduino-block firmware ";
  const char* flash = reinterpret_cast<const char*>(avr_->flash);
  const std::string_view image(flash, avr_->flashend + 1);
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
