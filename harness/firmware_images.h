// The firmware images that firmware/build.sh writes, as one table for every
// test and bench that runs them in avrboard: which board each is for, the
// chip avrboard simulates for it, its link and the serial speed it was built
// for.  The names are the ones the release archives use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

enum class ImageLink { kSerial, kEthernet };

struct BoardImage {
  const char* board;   // as a person names it: "Uno", "Mega 2560"
  const char* mcu;     // avrboard's --mcu for the board's chip
  const char* folder;  // the board's folder of images under build/firmware
  ImageLink link;
  int32_t baud;  // the speed a serial image was built for; 0 for Ethernet

  // The image's path under the firmware folder without its extension, as
  // in "uno/arduino_block-9600" or "mega2560/arduino_block-ethernet".
  std::string Name() const;
  // The ELF image, which avrboard runs, under `firmware_dir`.
  std::string Elf(const std::string& firmware_dir) const;
};

// Every image, in the order firmware/build.sh builds them: the Uno's at each
// serial speed, the Mega 2560's, then the two Ethernet images.
const std::vector<BoardImage>& BoardImages();

// The image of the board whose folder is `folder`, on `link`, at `baud` (0
// for Ethernet).  Throws std::out_of_range when firmware/build.sh writes no
// such image, so that a table of rows cannot name one that never exists.
const BoardImage& FindBoardImage(const std::string& folder, ImageLink link, int32_t baud = 0);

}  // namespace harness
