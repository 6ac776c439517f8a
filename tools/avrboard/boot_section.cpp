#include "boot_section.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "firmware_image.h"

namespace avrboard {

const char kBootloaderDir[] = "/usr/share/arduino/hardware/arduino/avr/bootloaders";

namespace {

// The Uno's high fuse 0xDE gives a boot section of 256 words (optiboot fits
// in 512 bytes); the Mega's 0xD8 gives the largest, 4096 words.  Both
// program BOOTRST (bit 0 clear), so a reset starts in the section.
// The Uno's comes from the build when it made one that fits (see
// CMakeLists.txt); Debian's own is refused for what lies past the flash.
#ifdef AVRBOARD_UNO_BOOTLOADER
constexpr const char* kUnoBootloader = AVRBOARD_UNO_BOOTLOADER;
constexpr bool kUnoBootloaderBuilt = true;
#else
constexpr const char* kUnoBootloader = "optiboot/optiboot_atmega328.hex";
constexpr bool kUnoBootloaderBuilt = false;
#endif
constexpr BootSection kSections[] = {
    {"atmega328p", kUnoBootloader, 0x7E00, 0xDE, "arduino", 115200},
    {"atmega2560", "stk500v2/stk500boot_v2_mega2560.hex", 0x3E000, 0xD8, "wiring", 115200},
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

const BootSection* BootSectionOf(std::string_view mcu) {
  for (const BootSection& section : kSections) {
    if (mcu == section.mcu) return &section;
  }
  return nullptr;
}

std::string WhyNoBootloaderBuilt(const BootSection& section) {
  if (kUnoBootloaderBuilt || section.file != kUnoBootloader) return "";
  return "this build made no Uno bootloader that fits (avr-gcc not found: apt-get install "
         "gcc-avr avr-libc), and Debian's prebuilt " +
         std::string(kBootloaderDir) + "/" + kUnoBootloader + " runs past the end of the flash";
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

std::optional<std::vector<uint8_t>> ReadBootloader(const std::string& path,
                                                   const BootSection& section, uint32_t flash_size,
                                                   std::string* error) {
  std::string file = path;
  if (file.empty()) {
    file = section.file[0] == '/' ? section.file : std::string(kBootloaderDir) + "/" + section.file;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    *error = "cannot read the " + std::string(section.mcu) + " bootloader '" + file +
             "': " + std::strerror(errno) + " (Debian's arduino-core-avr ships it)";
    return std::nullopt;
  }
  std::optional<std::vector<uint8_t>> bytes =
      BootloaderBytes(text.str(), section, flash_size, error);
  if (!bytes) *error = "cannot use the bootloader '" + file + "': " + *error;
  return bytes;
}

}  // namespace avrboard
