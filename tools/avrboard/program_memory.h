// What the chip's flash holds when avrboard starts, and where it is kept:
// the image of --firmware, or a blank flash, or a --flash file that keeps
// what a bootloader wrote between runs as --eeprom keeps the EEPROM; and,
// with --bootloader, the board's own bootloader in its boot section, which
// every reset then starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avr_board.h"
#include "avrboard_command_line.h"

namespace avrboard {

// What the chip runs, for avrboard's ready line: the image's path as
// before when there is neither bootloader nor flash file.
std::string DescribeProgram(const Options& options);

class ProgramMemory {
 public:
  // Makes `board`'s chip of `layout` and fills its flash as `options` say.
  // A flash file that cannot be read or is not of this chip's flash size,
  // an existing flash file together with --firmware (which of the two
  // would run is not clear), and a bootloader that cannot be read are
  // kBadImage, with *error saying which; nothing is written then.
  AvrBoard::LoadResult Load(const Options& options, const BoardLayout& layout, AvrBoard* board,
                            std::string* error);

  // Writes the flash to the --flash file when the chip has changed it since
  // it was last saved or read (a missing file counts as changed).  True
  // when there is no file to keep, or nothing to write, or the write
  // succeeded.
  bool SaveIfChanged(const AvrBoard& board, std::string* error);

 private:
  std::string path_;
  std::vector<uint8_t> saved_;
};

}  // namespace avrboard
