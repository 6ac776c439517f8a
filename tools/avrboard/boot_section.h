// The bootloader a board leaves the factory with: the Uno's optiboot (which
// today's Nano has too), the old Nano's ATmegaBOOT and the Mega 2560's
// stk500v2 bootloader, from Debian's arduino-core-avr, in the boot section
// at the top of the flash where the board's fuses put it.
// avrboard keeps its copies in bootloaders/ beside the program, where the
// build puts them and the Linux archive has them, so that an unpacked
// archive finds them wherever it lies.  Free of simavr, so that a
// bootloader file is checked, and tested, without a chip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace avrboard {

// One board's bootloader and the fuses that run it.
struct BootSection {
  const char* board;  // what avrboard's --board, and blockhost flash's, call the board
  const char* mcu;    // simavr's name for the chip
  const char* file;   // the bootloader's Intel HEX, in the folder BootloaderFile names
  bool built;         // the build makes the file with avr-gcc, rather than copying Debian's
  uint32_t start;     // the section's first byte, as the board's BOOTSZ fuses size it
  uint8_t high_fuse;  // the board's high fuse, with BOOTRST programmed
  // How avrdude reaches the bootloader, for the messages that say so.
  const char* programmer;
  uint32_t baud;
};

// The boot section of simavr's chip name, that of the chip's first board
// (the Uno, the Mega 2560), or nullptr for a chip avrboard lacks.
const BootSection* BootSectionOf(std::string_view mcu);
// The boot section of a board by its --board name, or nullptr for none.
const BootSection* BootSectionOfBoard(std::string_view board);
// The boards' names as a list for people: "uno, nano, nano-old or mega2560".
std::string BoardNames();

// The bootloader's bytes from section.start on, read from Intel HEX text.
// A bootloader with a byte below the section's start or past the end of a
// flash of `flash_size` bytes is refused, with *error saying where: on the
// board it would overwrite the program or not be there at all.
std::optional<std::vector<uint8_t>> BootloaderBytes(std::string_view hex,
                                                    const BootSection& section, uint32_t flash_size,
                                                    std::string* error);

// Whether `flash` holds no program: every byte below the boot section is
// erased (0xFF), as on a board that has only its bootloader.
bool HoldsNoProgram(const std::vector<uint8_t>& flash, const BootSection& section);

// The board's own bootloader file of avrboard in `program_folder`, the
// folder avrboard runs from: bootloaders/FILE there.
std::string BootloaderFile(const BootSection& section, const std::string& program_folder);

// Why the avrboard in `program_folder` cannot start the board from its own
// bootloader, or "" when it can: the file is missing (without avr-gcc the
// build makes no optiboot, since Debian's prebuilt one runs past the end of
// the flash).
std::string WhyNoBootloader(const BootSection& section, const std::string& program_folder);

// Reads a bootloader from `path` as BootloaderBytes does; *error names the
// file, and where avrboard's own come from, when it cannot be read.
std::optional<std::vector<uint8_t>> ReadBootloader(const std::string& path,
                                                   const BootSection& section, uint32_t flash_size,
                                                   std::string* error);

}  // namespace avrboard
