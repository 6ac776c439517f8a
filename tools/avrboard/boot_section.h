// The bootloader a board leaves the factory with: the Uno's optiboot and the
// Mega 2560's stk500v2 bootloader, as Debian's arduino-core-avr builds them,
// in the boot section at the top of the flash where the board's fuses put
// it.  Free of simavr, so that a bootloader file is checked, and tested,
// without a chip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace avrboard {

// Where Debian installs the boards' bootloaders.
extern const char kBootloaderDir[];

// One board's bootloader and the fuses that run it.
struct BootSection {
  const char* mcu;    // simavr's name for the chip
  const char* file;   // the bootloader's Intel HEX, under kBootloaderDir unless absolute
  uint32_t start;     // the section's first byte, as the board's BOOTSZ fuses size it
  uint8_t high_fuse;  // the board's high fuse, with BOOTRST programmed
  // How avrdude reaches the bootloader, for the messages that say so.
  const char* programmer;
  uint32_t baud;
};

// The boot section of simavr's chip name, or nullptr for a chip avrboard
// lacks.
const BootSection* BootSectionOf(std::string_view mcu);

// Why avrboard cannot start the board from its own bootloader in this build,
// or "" when it can.  Only the Uno's can be missing: the build makes it with
// avr-gcc, and without avr-gcc only Debian's prebuilt one is there, which
// runs past the end of the flash.
std::string WhyNoBootloaderBuilt(const BootSection& section);

// The bootloader's bytes from section.start on, read from Intel HEX text.
// A bootloader with a byte below the section's start or past the end of a
// flash of `flash_size` bytes is refused, with *error saying where: on the
// board it would overwrite the program or not be there at all.
std::optional<std::vector<uint8_t>> BootloaderBytes(std::string_view hex,
                                                    const BootSection& section, uint32_t flash_size,
                                                    std::string* error);

// Reads the board's bootloader from `path` (kBootloaderDir's file when
// empty) as BootloaderBytes does; *error names the file and the Debian
// package when it cannot be read.
std::optional<std::vector<uint8_t>> ReadBootloader(const std::string& path,
                                                   const BootSection& section, uint32_t flash_size,
                                                   std::string* error);

}  // namespace avrboard
