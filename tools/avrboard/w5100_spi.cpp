#include "w5100_spi.h"

#include <cstring>

#include "w5100.h"

extern "C" {
#include <avr_ioport.h>
#include <avr_spi.h>
#include <sim_avr.h>
#include <sim_irq.h>
}

namespace avrboard {
namespace {

// The SPI registers, at the same data-space addresses on both chips.
constexpr uint16_t kSpcr = 0x4C, kSpsr = 0x4D, kSpdr = 0x4E;
constexpr uint8_t kSpcrMaster = 0x10, kSpsrDouble = 0x01;

}  // namespace

void W5100Spi::Attach(avr_t* avr, const BoardLayout& layout, W5100* chip) {
  avr_ = avr;
  w5100_ = chip;
  // The ATmega328P's and the ATmega2560's one SPI port is simavr's port 0.
  spi_input_ = avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_SPI_GETIRQ(0), SPI_IRQ_OUTPUT), OnSpiOutput,
                          this);
  avr_irq_register_notify(
      avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('B'), layout.ethernet_select_bit), OnChipSelect,
      this);
  for (avr_io_t* io = avr_->io_port; io != nullptr; io = io->next) {
    if (io->kind != nullptr && std::strcmp(io->kind, "spi") == 0) spi_io_ = io;
  }
  // simavr shares the register between its SPI and this second writer,
  // calling them in the order they registered.
  if (spi_io_ != nullptr) avr_register_io_write(avr_, kSpdr, OnSpdrWrite, this);
}

void W5100Spi::Reset() {
  if (w5100_ != nullptr) w5100_->Reset();
}

uint64_t W5100Spi::NowNs() const { return avr_->cycle * 1000000000ull / kClockHz; }

void W5100Spi::OnSpdrWrite(avr_t* avr, avr_io_addr_t, uint8_t, void* param) {
  W5100Spi* spi = static_cast<W5100Spi*>(param);
  // simavr 1.6 finishes every SPI byte 100 us after the write to SPDR,
  // whatever the clock, which makes one W5100 frame take 400 us instead of
  // 4.  Its timer is moved to when the byte's 8 clocks are done: 2 to 128
  // CPU cycles each, as SPR1:0 and SPI2X set.
  if (!(avr->data[kSpcr] & kSpcrMaster)) return;
  for (avr_cycle_timer_slot_p slot = avr->cycle_timers.timer; slot != nullptr; slot = slot->next) {
    if (slot->param != spi->spi_io_) continue;
    static constexpr uint32_t kDividers[4] = {4, 16, 64, 128};
    uint32_t divider = kDividers[avr->data[kSpcr] & 3];
    if (avr->data[kSpsr] & kSpsrDouble) divider /= 2;
    const avr_cycle_timer_t timer = slot->timer;
    avr_cycle_timer_cancel(avr, timer, spi->spi_io_);
    avr_cycle_timer_register(avr, 8 * divider, timer, spi->spi_io_);
    return;
  }
}

void W5100Spi::OnSpiOutput(avr_irq_t*, uint32_t value, void* param) {
  W5100Spi* spi = static_cast<W5100Spi*>(param);
  // simavr raises this when a byte the firmware wrote to SPDR has been
  // shifted out; the answer raised back lands in SPDR before the firmware
  // sees SPIF.  A chip that is not selected leaves MISO alone.
  if (!spi->w5100_->selected()) return;
  const uint8_t miso = spi->w5100_->Transfer(static_cast<uint8_t>(value), spi->NowNs());
  avr_raise_irq(spi->spi_input_, miso);
}

void W5100Spi::OnChipSelect(avr_irq_t*, uint32_t value, void* param) {
  static_cast<W5100Spi*>(param)->w5100_->Select(value == 0);
}

}  // namespace avrboard
