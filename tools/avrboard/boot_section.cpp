#include "boot_section.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "firmware_image.h"
#include "tool_command_line.h"

namespace avrboard {

namespace {

// The Uno's high fuse 0xDE gives a boot section of 256 words (optiboot fits
// in 512 bytes); the old Nano's 0xDA gives 1024 words, where ATmegaBOOT
// starts at 0x7800 and listens at 57600 baud; the Mega's 0xD8 gives the
// largest, 4096 words.  All program BOOTRST (bit 0 clear), so a reset
// starts in the section.  optiboot is the build's own of Debian's source,
// since Debian's file is refused for what lies past the flash (see
// CMakeLists.txt); the others are Debian's files as they are.  Today's Nano
// has the Uno's optiboot and boots here as the Uno: its boards.txt keeps
// the old fuse 0xDA, whose section's erased first 1.5 KB the chip runs
// through to optiboot, and a reset that starts where optiboot does is the
// same to the program.  Each chip's first row is its default.
constexpr BootSection kSections[] = {
    {"uno", "atmega328p", "optiboot_atmega328.hex", true, 0x7E00, 0xDE, "arduino", 115200},
    {"nano", "atmega328p", "optiboot_atmega328.hex", true, 0x7E00, 0xDE, "arduino", 115200},
    {"nano-old", "atmega328p", "ATmegaBOOT_168_atmega328.hex", false, 0x7800, 0xDA, "arduino",
     57600},
    {"mega2560", "atmega2560", "stk500boot_v2_mega2560.hex", false, 0x3E000, 0xD8, "wiring",
     115200},
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

bool HoldsNoProgram(const std::vector<uint8_t>& flash, const BootSection& section) {
  const size_t end = std::min<size_t>(section.start, flash.size());
  return std::all_of(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(end),
                     [](uint8_t byte) { return byte == 0xFF; });
}

const BootSection* BootSectionOf(std::string_view mcu) {
  for (const BootSection& section : kSections) {
    if (mcu == section.mcu) return &section;
  }
  return nullptr;
}

const BootSection* BootSectionOfBoard(std::string_view board) {
  for (const BootSection& section : kSections) {
    if (board == section.board) return &section;
  }
  return nullptr;
}

std::string BoardNames() {
  std::vector<std::string> names;
  for (const BootSection& section : kSections) names.emplace_back(section.board);
  return tool_cli::Alternatives(names);
}

std::optional<std::vector<uint8_t>> BootloaderBytes(std::string_view hex,
                                                    const BootSection& section, uint32_t flash_size,
                                                    std::string* error) {
  std::string why;
  uint32_t largest = 0;
  for (const ChipTraits& chip : kChips) largest = std::max(largest, chip.flash_size);
  std::optional<std::vector<uint8_t>> flash = ParseIntelHex(hex, largest, &why);
  if (!flash) {
    *error = "Intel HEX, but " + why;
    return std::nullopt;
  }
  if (flash->size() > flash_size) {
    *error = "it reaches " + Hex(static_cast<uint32_t>(flash->size() - 1)) +
             ", past the end of this chip's flash at " + Hex(flash_size - 1) +
             ": it does not fit the boot section";
    return std::nullopt;
  }
  // The parser gives the image from address 0 with what no record gave as
  // 0xFF, so a byte below the section is any that is not erased.
  for (uint32_t address = 0; address < section.start && address < flash->size(); ++address) {
    if ((*flash)[address] != 0xFF) {
      *error =
          "it has code at " + Hex(address) + ", below the boot section at " + Hex(section.start);
      return std::nullopt;
    }
  }
  if (flash->size() <= section.start) {
    *error = "it has no code in the boot section at " + Hex(section.start);
    return std::nullopt;
  }
  return std::vector<uint8_t>(flash->begin() + section.start, flash->end());
}

std::string BootloaderFile(const BootSection& section, const std::string& program_folder) {
  return program_folder + "/bootloaders/" + section.file;
}

std::string WhyNoBootloader(const BootSection& section, const std::string& program_folder) {
  const std::string file = BootloaderFile(section, program_folder);
  if (access(file.c_str(), R_OK) == 0) return "";
  // Debian's prebuilt optiboot runs past the end of the flash, so the build
  // makes its own, with avr-gcc.
  return "no " + std::string(section.board) + " bootloader at " + file +
         (section.built ? " (the build makes it with avr-gcc: apt-get install gcc-avr avr-libc)"
                        : " (the build copies it from Debian's arduino-core-avr)");
}

std::optional<std::vector<uint8_t>> ReadBootloader(const std::string& path,
                                                   const BootSection& section, uint32_t flash_size,
                                                   std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    *error = "cannot read the " + std::string(section.board) + " bootloader '" + path +
             "': " + std::strerror(errno) +
             " (avrboard's own lie in bootloaders/ beside it, where the Linux archive has them "
             "and a build with Debian's arduino-core-avr and avr-gcc puts them)";
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> bytes =
      BootloaderBytes(text.str(), section, flash_size, error);
  if (!bytes) *error = "cannot use the bootloader '" + path + "': " + *error;
  return bytes;
}

}  // namespace avrboard
