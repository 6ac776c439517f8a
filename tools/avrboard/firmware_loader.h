// Reads a firmware image into the form simavr loads, after checking it as
// firmware_image.h does: simavr would abort, crash or run garbage on an
// image that is damaged, too large or built for the other chip.
#pragma once

#include <string>

#include "board_layout.h"

struct elf_firmware_t;

namespace avrboard {

enum class LoadResult {
  kLoaded,
  kBadImage,   // unreadable, neither ELF nor Intel HEX, damaged, or empty
  kOtherChip,  // a sound image, but for another chip than the layout's
};

// Reads the ELF or Intel HEX image at `image_path` into *firmware, which
// must be empty, for a chip of `layout`.  Anything but kLoaded comes with
// *error saying why (and which --mcu the image wants); *firmware may then
// hold part of the image, for FreeFirmware.
LoadResult ReadFirmware(const std::string& image_path, const BoardLayout& layout,
                        elf_firmware_t* firmware, std::string* error);

// Frees what ReadFirmware, or simavr's own reader, allocated in *firmware.
void FreeFirmware(elf_firmware_t* firmware);

}  // namespace avrboard
