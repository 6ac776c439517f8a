#include "program_memory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "boot_section.h"
#include "eeprom_file.h"
#include "firmware_image.h"

namespace avrboard {
namespace {

// The folder avrboard runs from, whatever the folder it was started in: the
// build's top folder, or wherever the Linux archive was unpacked.
std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : self.parent_path().string();
}

bool ReadFlashFile(const std::string& path, uint32_t size, std::vector<uint8_t>* bytes,
                   std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read flash file '" + path + "': " + std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read flash file '" + path + "'";
    return false;
  }
  if (bytes->size() != size) {
    *error = "flash file '" + path + "' holds " + std::to_string(bytes->size()) +
             " bytes; this chip's flash is " + std::to_string(size) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

std::string DescribeProgram(const Options& options) {
  std::string program = options.firmware_path;
  if (!options.flash_path.empty()) {
    program = (program.empty() ? "" : program + " kept in ") + options.flash_path;
  }
  if (!options.bootloader) return program;
  const BootSection& section = *BootSectionOfBoard(options.board);
  return std::string("its bootloader (avrdude -c ") + section.programmer + " -b " +
         std::to_string(section.baud) + ")" + (program.empty() ? "" : " and " + program);
}

AvrBoard::LoadResult ProgramMemory::Load(const Options& options, const BoardLayout& layout,
                                         AvrBoard* board, std::string* error) {
  path_ = options.flash_path;
  const uint32_t flash_size = ChipTraitsOf(layout.mcu)->flash_size;
  struct stat file_facts {};
  const bool have_file = !path_.empty() && stat(path_.c_str(), &file_facts) == 0;
  if (have_file && !options.firmware_path.empty()) {
    *error = "the flash file '" + path_ +
             "' already holds a program; give --firmware with a new --flash file, or drop it";
    return AvrBoard::LoadResult::kBadImage;
  }
  if (!have_file && options.firmware_path.empty() && !options.bootloader) {
    // Without a bootloader nothing would ever write the blank flash.
    *error = "there is no flash file '" + path_ + "' yet: give --firmware to start it, or " +
             "--bootloader to upload into it";
    return AvrBoard::LoadResult::kBadImage;
  }
  std::vector<uint8_t> kept;
  if (have_file && !ReadFlashFile(path_, flash_size, &kept, error)) {
    return AvrBoard::LoadResult::kBadImage;
  }
  std::vector<uint8_t> bootloader;
  const BootSection* section = BootSectionOfBoard(options.board);
  if (options.bootloader) {
    const std::string path = options.bootloader_path.empty()
                                 ? BootloaderFile(*section, ProgramFolder())
                                 : options.bootloader_path;
    std::optional<std::vector<uint8_t>> bytes = ReadBootloader(path, *section, flash_size, error);
    if (!bytes) return AvrBoard::LoadResult::kBadImage;
    bootloader = std::move(*bytes);
  }

  const AvrBoard::LoadResult result = options.firmware_path.empty()
                                          ? board->LoadBlank(layout, error)
                                          : board->Load(options.firmware_path, layout, error);
  if (result != AvrBoard::LoadResult::kLoaded) return result;
  if (have_file) {
    board->SetFlash(kept);
    saved_ = std::move(kept);
  }
  if (options.bootloader) board->InstallBootloader(bootloader, section->start, section->high_fuse);
  return result;
}

bool ProgramMemory::SaveIfChanged(const AvrBoard& board, std::string* error) {
  if (path_.empty()) return true;
  std::vector<uint8_t> now = board.Flash();
  if (now == saved_) return true;
  // The flash is written as the EEPROM is, through a temporary file and a
  // rename, so that a run stopped mid-write never leaves half a program.
  if (!SaveEepromFile(path_, now, error)) {
    // Its message speaks of an EEPROM file; this one holds the flash.
    if (const size_t word = error->find("EEPROM file"); word != std::string::npos) {
      error->replace(word, 6, "flash");
    }
    return false;
  }
  saved_ = std::move(now);
  return true;
}

}  // namespace avrboard
