// AvrBoard's program memory: the bootloader in the boot section, and the
// flash as a whole, which a bootloader rewrites and a flash file keeps.
#include <algorithm>
#include <cstring>

#include "avr_board.h"

extern "C" {
#include <sim_avr.h>
}

namespace avrboard {
namespace {

// MCUSR, at the same data-space address on both chips, and its power-on
// reset flag.
constexpr uint16_t kMcusr = 0x54;
constexpr uint8_t kPowerOnReset = 0x01;

}  // namespace

void AvrBoard::InstallBootloader(const std::vector<uint8_t>& bytes, uint32_t start,
                                 uint8_t high_fuse) {
  std::memcpy(avr_->flash + start, bytes.data(), bytes.size());
  avr_->fuse[AVR_FUSE_HIGH] = high_fuse;
  avr_->reset_pc = start;
  // simavr stops a program that jumps past the end of what was loaded; the
  // bootloader's jump to address 0, and the program's calls, must not count
  // as that once the bootloader sits at the top of the flash.
  avr_->codeend = avr_->flashend;
  Reset();
  // A board that is switched on starts with only the power-on flag set:
  // optiboot then runs the program at once, the Mega's bootloader waits.
  avr_->data[kMcusr] = kPowerOnReset;
}

void AvrBoard::WatchBootSection() {
  // simavr's own resets (the watchdog's, by which both bootloaders start
  // the program after an upload) switch UART0's transmitter on as its
  // reset always does; see Uart0Port::ClearAfterReset.  Only a reset runs the
  // section's first instruction.
  if (avr_->pc == avr_->reset_pc) uart0_.ClearAfterReset();
  if (in_bootloader_ && avr_->pc < avr_->reset_pc) {
    in_bootloader_ = false;
    boot_window_cycles_ = avr_->cycle - boot_reset_cycle_;
  }
}

std::optional<uint64_t> AvrBoard::TakeBootWindowCycles() {
  std::optional<uint64_t> window;
  window.swap(boot_window_cycles_);
  return window;
}

std::vector<uint8_t> AvrBoard::Flash() const {
  return std::vector<uint8_t>(avr_->flash, avr_->flash + avr_->flashend + 1);
}

void AvrBoard::SetFlash(const std::vector<uint8_t>& bytes) {
  std::memcpy(avr_->flash, bytes.data(), std::min<size_t>(bytes.size(), avr_->flashend + 1));
}

}  // namespace avrboard
