// A firmware image as avrboard reads it before any chip exists: its format
// (ELF or Intel HEX), its program memory, and what it tells of the chip it
// was built for.  Free of simavr, so that a bad image is refused, and tested,
// without one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace avrboard {

// What of a chip decides whether an image can run on it.
struct ChipTraits {
  const char* mcu;      // simavr's name, which --mcu takes
  const char* board;    // for people
  uint32_t flash_size;  // program memory in bytes
  int vector_count;     // interrupt vectors, one 4-byte JMP each
  uint8_t elf_arch;     // avr-gcc's architecture in the ELF header's e_flags
};

// The chips avrboard simulates, the Uno's first.
extern const ChipTraits kChips[2];
// The traits of simavr's chip name, or nullptr for a chip avrboard lacks.
const ChipTraits* ChipTraitsOf(std::string_view mcu);

enum class ImageFormat { kElf, kIntelHex, kUnknown };

// Tells the format from the first bytes: ELF by its magic number, Intel HEX
// by its first record mark (':' after optional white space).
ImageFormat FormatOf(std::string_view contents);

// The program memory of an Intel HEX file, from address 0; bytes no record
// gives read 0xFF, as erased flash does.  Every record's checksum, length
// and type is checked, and the file must end with an end-of-file record, so
// a truncated or damaged file is refused with *error naming the line.
// `max_size` bounds the image: a record beyond it is refused instead of
// making a buffer that large.
std::optional<std::vector<uint8_t>> ParseIntelHex(std::string_view text, uint32_t max_size,
                                                  std::string* error);

// The avr-gcc architecture from an ELF header (e_flags' low 7 bits: 5 for
// the ATmega328P's avr5, 6 for the ATmega2560's avr6).  Nothing, with
// *error set, when `contents` is no 32-bit little-endian AVR ELF file, or
// one whose header tables or sections reach past its end.
std::optional<uint8_t> ElfAvrArchitecture(std::string_view contents, std::string* error);

// What an image says of its chip.  Any of the three may be missing.
struct ImageFacts {
  std::vector<uint8_t> flash;       // from address 0
  std::string mmcu;                 // an ELF's .mmcu section (simavr's), if any
  std::optional<uint8_t> elf_arch;  // an ELF's architecture
};

// The chip the image was built for, and how that was told; nothing when the
// image does not say.  The .mmcu section names the chip; else the ELF's
// architecture; else the interrupt vector table, which avr-libc starts every
// program with: one JMP per vector, 26 on the ATmega328P and 57 on the
// ATmega2560, followed by what is no JMP.
struct ChipVerdict {
  const ChipTraits* chip;
  std::string evidence;
};
std::optional<ChipVerdict> ChipOfImage(const ImageFacts& image);

// Empty when the image may run on `chip`; otherwise why not, naming the
// --mcu to run it with where the image says.  An image larger than the
// chip's flash never fits.
std::string MismatchWithChip(const ImageFacts& image, const ChipTraits& chip);

}  // namespace avrboard
