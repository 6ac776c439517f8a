#include "avr_board.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "firmware_image.h"
#include "firmware_loader.h"

extern "C" {
#include <avr_adc.h>
#include <avr_eeprom.h>
#include <avr_ioport.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_irq.h>
}

namespace avrboard {
namespace {

constexpr uint32_t kMillivolts = 5000;

// MCUSR, at the same data-space address on both chips.
constexpr uint16_t kMcusr = 0x54;
constexpr uint8_t kMcusrExternalReset = 0x02;  // EXTRF

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
  if (const LoadResult read = ReadFirmware(image_path, layout, firmware_, error);
      read != LoadResult::kLoaded) {
    return read;
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

  uart0_.Attach(avr_);
  return LoadResult::kLoaded;
}

bool AvrBoard::Run(uint64_t cycles, std::string* error) {
  uart0_.BeforeRun();
  KeepWiresDriven();
  const uint64_t until = avr_->cycle + cycles;
  while (avr_->cycle < until) {
    const int state = avr_run(avr_);
    if (avr_->reset_pc != 0) WatchBootSection();
    if (state == cpu_Done || state == cpu_Crashed) {
      *error = state == cpu_Crashed ? "the firmware crashed" : "the firmware stopped";
      return false;
    }
    uart0_.AfterInstruction();
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
  uart0_.Reset();
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
  return uart0_.TakeOutput(cycles);
}

uint64_t AvrBoard::UartFrameCycles() const { return uart0_.FrameCycles(); }

double AvrBoard::UartRate() const { return uart0_.Rate(); }

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
