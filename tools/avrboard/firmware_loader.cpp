#include "firmware_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "firmware_image.h"

extern "C" {
#include <sim_elf.h>
}

namespace avrboard {
namespace {

// The program of an ELF image, as simavr's reader takes it.
LoadResult ReadElf(const std::string& image_path, const std::string& contents,
                   elf_firmware_t* firmware, ImageFacts* facts, std::string* why) {
  facts->elf_arch = ElfAvrArchitecture(contents, why);
  if (!facts->elf_arch) return LoadResult::kBadImage;
  // simavr accepts some files it cannot make sense of and loads nothing, so
  // an empty program counts as a failure too.
  if (elf_read_firmware(image_path.c_str(), firmware) != 0 || firmware->flash == nullptr ||
      firmware->flashsize == 0) {
    *why = "an AVR ELF file without a program simavr can read";
    return LoadResult::kBadImage;
  }
  facts->flash.assign(firmware->flashbase, 0xFF);
  facts->flash.insert(facts->flash.end(), firmware->flash, firmware->flash + firmware->flashsize);
  facts->mmcu.assign(firmware->mmcu, strnlen(firmware->mmcu, sizeof firmware->mmcu));
  return LoadResult::kLoaded;
}

LoadResult ReadIntelHex(const std::string& contents, elf_firmware_t* firmware, ImageFacts* facts,
                        std::string* why) {
  uint32_t largest = 0;
  for (const ChipTraits& chip : kChips) largest = std::max(largest, chip.flash_size);
  std::optional<std::vector<uint8_t>> flash = ParseIntelHex(contents, largest, why);
  if (!flash) {
    *why = "Intel HEX, but " + *why;
    return LoadResult::kBadImage;
  }
  facts->flash = std::move(*flash);
  // Held as simavr holds an ELF's program, so both are freed alike.
  firmware->flash = static_cast<uint8_t*>(malloc(facts->flash.size()));
  if (firmware->flash == nullptr) {
    *why = "out of memory";
    return LoadResult::kBadImage;
  }
  std::memcpy(firmware->flash, facts->flash.data(), facts->flash.size());
  firmware->flashsize = static_cast<uint32_t>(facts->flash.size());
  return LoadResult::kLoaded;
}

}  // namespace

LoadResult ReadFirmware(const std::string& image_path, const BoardLayout& layout,
                        elf_firmware_t* firmware, std::string* error) {
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
  LoadResult result = LoadResult::kBadImage;
  switch (FormatOf(contents)) {
    case ImageFormat::kElf:
      result = ReadElf(image_path, contents, firmware, &facts, &why);
      break;
    case ImageFormat::kIntelHex:
      result = ReadIntelHex(contents, firmware, &facts, &why);
      break;
    case ImageFormat::kUnknown:
      why = "neither an ELF file nor Intel HEX";
      break;
  }
  if (result != LoadResult::kLoaded) {
    *error = cannot + why;
    return result;
  }
  // The chip is made only for an image that suits it: simavr aborts on a
  // program larger than the flash, and an image for the other chip runs
  // into registers and vectors that are not where it expects them.
  const std::string mismatch = MismatchWithChip(facts, *ChipTraitsOf(layout.mcu));
  if (!mismatch.empty()) {
    *error = cannot + mismatch;
    return LoadResult::kOtherChip;
  }
  return LoadResult::kLoaded;
}

void FreeFirmware(elf_firmware_t* firmware) {
  free(firmware->flash);
  free(firmware->eeprom);
  free(firmware->fuse);
  free(firmware->lockbits);
  for (uint32_t i = 0; i < firmware->symbolcount; ++i) free(firmware->symbol[i]);
  free(firmware->symbol);
}

}  // namespace avrboard
