// The W5100 wired to the chip's SPI bus, as the Ethernet shield wires it:
// MOSI, MISO and SCK to the chip's one SPI port, chip select on pin 10.
#pragma once

#include <cstdint>

#include "board_layout.h"

struct avr_t;
struct avr_io_t;
struct avr_irq_t;

namespace avrboard {

class W5100;

class W5100Spi {
 public:
  // Wires `chip` to the SPI port of `avr`.  The W5100 must outlive the
  // board, and this object must stay where it is: simavr calls back into it.
  void Attach(avr_t* avr, const BoardLayout& layout, W5100* chip);
  // Resets the W5100 with the board, as the shield's reset line does.
  void Reset();

 private:
  static void OnSpiOutput(avr_irq_t* irq, uint32_t value, void* param);
  static void OnChipSelect(avr_irq_t* irq, uint32_t value, void* param);
  static void OnSpdrWrite(avr_t* avr, uint16_t address, uint8_t value, void* param);
  uint64_t NowNs() const;

  avr_t* avr_ = nullptr;
  W5100* w5100_ = nullptr;
  avr_irq_t* spi_input_ = nullptr;
  avr_io_t* spi_io_ = nullptr;  // simavr's SPI module, the param of its timer
};

}  // namespace avrboard
