#include "firmware_images.h"

#include <stdexcept>

namespace harness {
namespace {

constexpr int32_t kSerialSpeeds[] = {9600, 19200, 38400, 115200};

struct Board {
  const char* name;
  const char* mcu;
  const char* folder;
};
constexpr Board kBoards[] = {{"Uno", "atmega328p", "uno"}, {"Mega 2560", "atmega2560", "mega2560"}};

std::vector<BoardImage> MakeTable() {
  std::vector<BoardImage> images;
  for (const Board& board : kBoards) {
    for (int32_t baud : kSerialSpeeds) {
      images.push_back({board.name, board.mcu, board.folder, ImageLink::kSerial, baud});
    }
  }
  for (const Board& board : kBoards) {
    images.push_back({board.name, board.mcu, board.folder, ImageLink::kEthernet, 0});
  }
  return images;
}

}  // namespace

std::string BoardImage::Name() const {
  const std::string suffix = link == ImageLink::kEthernet ? "ethernet" : std::to_string(baud);
  return std::string(folder) + "/arduino_block-" + suffix;
}

std::string BoardImage::Elf(const std::string& firmware_dir) const {
  return firmware_dir + "/" + Name() + ".elf";
}

const std::vector<BoardImage>& BoardImages() {
  static const std::vector<BoardImage> images = MakeTable();
  return images;
}

const BoardImage& FindBoardImage(const std::string& folder, ImageLink link, int32_t baud) {
  for (const BoardImage& image : BoardImages()) {
    if (folder == image.folder && link == image.link && baud == image.baud) return image;
  }
  throw std::out_of_range(
      "firmware/build.sh writes no image for " + folder + " on " +
      (link == ImageLink::kEthernet ? "Ethernet" : "serial at " + std::to_string(baud)));
}

}  // namespace harness
