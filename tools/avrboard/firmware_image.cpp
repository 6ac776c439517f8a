#include "firmware_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace avrboard {
namespace {

constexpr std::string_view kElfMagic =
    "\x7f"
    "ELF";
constexpr uint16_t kElfMachineAvr = 83;  // EM_AVR
constexpr uint8_t kElfArchMask = 0x7F;   // EF_AVR_ARCH_MASK
constexpr size_t kElf32HeaderSize = 52;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of one record's hex digits after the ':', or nothing when a
// character is no hex digit or the count is odd.
std::optional<std::vector<uint8_t>> DecodeRecord(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]), low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The number of JMP instructions the image starts with.  A JMP is two words,
// the first 1001 010k kkkk 110k, the second the rest of the target.
int LeadingJumps(const std::vector<uint8_t>& flash) {
  int count = 0;
  for (size_t at = 0; at + 4 <= flash.size(); at += 4, ++count) {
    const uint16_t word = static_cast<uint16_t>(flash[at] | flash[at + 1] << 8);
    if ((word & 0xFE0E) != 0x940C) break;
  }
  return count;
}

std::string ChipName(const ChipTraits& chip) {
  return std::string(chip.mcu) + " (" + chip.board + ")";
}

}  // namespace

const ChipTraits kChips[2] = {
    {"atmega328p", "Uno", 32 * 1024, 26, 5},
    {"atmega2560", "Mega 2560", 256 * 1024, 57, 6},
};

const ChipTraits* ChipTraitsOf(std::string_view mcu) {
  for (const ChipTraits& chip : kChips) {
    if (mcu == chip.mcu) return &chip;
  }
  return nullptr;
}

ImageFormat FormatOf(std::string_view contents) {
  if (contents.substr(0, kElfMagic.size()) == kElfMagic) return ImageFormat::kElf;
  const std::string_view text = Trimmed(contents);
  if (!text.empty() && text.front() == ':') return ImageFormat::kIntelHex;
  return ImageFormat::kUnknown;
}

std::optional<std::vector<uint8_t>> ParseIntelHex(std::string_view text, uint32_t max_size,
                                                  std::string* error) {
  std::vector<uint8_t> flash;
  uint32_t base = 0;
  int line_number = 0;
  bool ended = false;
  while (!text.empty() && !ended) {
    const size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (line.front() != ':') {
      *error = where + "a record starts with ':'";
      return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> record = DecodeRecord(line.substr(1));
    if (!record || record->size() < 5) {
      *error = where + "not a record of hex digit pairs";
      return std::nullopt;
    }
    const std::vector<uint8_t>& bytes = *record;
    const size_t length = bytes[0];
    if (bytes.size() != length + 5) {
      *error = where + "the record says " + std::to_string(length) + " data bytes but holds " +
               std::to_string(static_cast<int>(bytes.size()) - 5);
      return std::nullopt;
    }
    uint8_t sum = 0;
    for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
    if (sum != 0) {
      *error = where + "wrong checksum";
      return std::nullopt;
    }
    const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
    const uint8_t* data = bytes.data() + 4;
    switch (bytes[3]) {
      case 0x00: {  // data
        const uint64_t address = uint64_t{base} + offset;
        if (address + length > max_size) {
          *error = where + "data at " + Hex(static_cast<uint32_t>(address)) +
                   " lies beyond the largest flash avrboard knows (" + std::to_string(max_size) +
                   " bytes)";
          return std::nullopt;
        }
        if (flash.size() < address + length) flash.resize(address + length, 0xFF);
        std::copy(data, data + length, flash.begin() + static_cast<ptrdiff_t>(address));
        break;
      }
      case 0x01:  // end of file
        ended = true;
        break;
      case 0x02:  // extended segment address: bits 4..19
      case 0x04:  // extended linear address: bits 16..31
        if (length != 2) {
          *error = where + "an address record holds 2 bytes";
          return std::nullopt;
        }
        base = static_cast<uint32_t>(data[0] << 8 | data[1]) << (bytes[3] == 0x02 ? 4 : 16);
        break;
      case 0x03:  // start addresses: the chip starts at its reset vector
      case 0x05:
        break;
      default:
        *error = where + "unknown record type " + std::to_string(bytes[3]);
        return std::nullopt;
    }
  }
  if (!ended) {
    *error = "the file ends without an end-of-file record (cut short?)";
    return std::nullopt;
  }
  if (flash.empty()) {
    *error = "the file holds no program";
    return std::nullopt;
  }
  return flash;
}

std::optional<uint8_t> ElfAvrArchitecture(std::string_view contents, std::string* error) {
  if (contents.size() < kElf32HeaderSize || contents.substr(0, kElfMagic.size()) != kElfMagic) {
    *error = "not an ELF file, or cut short in its header";
    return std::nullopt;
  }
  const auto byte = [&contents](size_t at) { return static_cast<uint8_t>(contents[at]); };
  // EI_CLASS 1 is 32-bit, EI_DATA 1 little-endian: what avr-gcc writes.
  if (byte(4) != 1 || byte(5) != 1) {
    *error = "an ELF file, but not the 32-bit little-endian kind avr-gcc writes";
    return std::nullopt;
  }
  const uint16_t machine = static_cast<uint16_t>(byte(18) | byte(19) << 8);
  if (machine != kElfMachineAvr) {
    *error =
        "an ELF file for another processor (machine " + std::to_string(machine) + "), not an AVR";
    return std::nullopt;
  }
  // simavr reads the sections through libelf, which trusts the tables of a
  // file cut short; every table and every section must lie inside the file.
  const auto u16 = [&byte](size_t at) {
    return static_cast<uint16_t>(byte(at) | byte(at + 1) << 8);
  };
  const auto u32 = [&u16](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  const uint64_t size = contents.size();
  const auto inside = [size](uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
  };
  const uint32_t program_table = u32(28), section_table = u32(32);
  const uint16_t program_entry = u16(42), program_count = u16(44);
  const uint16_t section_entry = u16(46), section_count = u16(48);
  if (!inside(program_table, uint64_t{program_entry} * program_count) ||
      !inside(section_table, uint64_t{section_entry} * section_count) ||
      (program_count > 0 && program_entry < 32) || (section_count > 0 && section_entry < 40)) {
    *error = "an AVR ELF file cut short or damaged: its header tables lie outside it";
    return std::nullopt;
  }
  for (uint16_t i = 0; i < program_count; ++i) {
    const size_t entry = program_table + size_t{i} * program_entry;
    if (!inside(u32(entry + 4), u32(entry + 16))) {
      *error = "an AVR ELF file cut short: segment " + std::to_string(i) + " lies outside it";
      return std::nullopt;
    }
  }
  constexpr uint32_t kSectionNoBits = 8;  // SHT_NOBITS: .bss, nothing in the file
  for (uint16_t i = 0; i < section_count; ++i) {
    const size_t entry = section_table + size_t{i} * section_entry;
    if (u32(entry + 4) != kSectionNoBits && !inside(u32(entry + 16), u32(entry + 20))) {
      *error = "an AVR ELF file cut short: section " + std::to_string(i) + " lies outside it";
      return std::nullopt;
    }
  }
  return static_cast<uint8_t>(byte(36) & kElfArchMask);
}

std::optional<ChipVerdict> ChipOfImage(const ImageFacts& image) {
  if (!image.mmcu.empty()) {
    if (const ChipTraits* chip = ChipTraitsOf(image.mmcu)) {
      return ChipVerdict{chip, "its .mmcu section names " + image.mmcu};
    }
  }
  if (image.elf_arch) {
    for (const ChipTraits& chip : kChips) {
      if (chip.elf_arch == *image.elf_arch) {
        return ChipVerdict{&chip,
                           "its ELF header says avr" + std::to_string(*image.elf_arch) + " code"};
      }
    }
  }
  const int jumps = LeadingJumps(image.flash);
  for (const ChipTraits& chip : kChips) {
    if (chip.vector_count == jumps) {
      return ChipVerdict{&chip,
                         "its interrupt vector table has " + std::to_string(jumps) + " entries"};
    }
  }
  return std::nullopt;
}

std::string MismatchWithChip(const ImageFacts& image, const ChipTraits& chip) {
  if (!image.mmcu.empty() && ChipTraitsOf(image.mmcu) == nullptr) {
    return "it is built for the " + image.mmcu + ", which avrboard does not simulate";
  }
  if (image.mmcu.empty() && image.elf_arch) {
    bool known = false;
    for (const ChipTraits& each : kChips) known = known || each.elf_arch == *image.elf_arch;
    if (!known) {
      return "it is built for an avr" + std::to_string(*image.elf_arch) +
             " chip; avrboard simulates the atmega328p (avr5) and the atmega2560 (avr6)";
    }
  }
  const std::optional<ChipVerdict> verdict = ChipOfImage(image);
  if (verdict && verdict->chip != &chip) {
    return "it is built for the " + ChipName(*verdict->chip) + " (" + verdict->evidence +
           "), not the " + ChipName(chip) + ": run it with --mcu " + verdict->chip->mcu;
  }
  if (image.flash.size() > chip.flash_size) {
    std::string reason = "its program (" + std::to_string(image.flash.size()) +
                         " bytes) is larger than the " + ChipName(chip) + "'s flash (" +
                         std::to_string(chip.flash_size) + " bytes)";
    for (const ChipTraits& other : kChips) {
      if (&other != &chip && image.flash.size() <= other.flash_size) {
        reason +=
            std::string(": is it for the ") + ChipName(other) + "? run it with --mcu " + other.mcu;
        break;
      }
    }
    return reason;
  }
  return "";
}

}  // namespace avrboard
