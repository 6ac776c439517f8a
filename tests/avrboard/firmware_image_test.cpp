// Firmware images before any chip: Intel HEX read record by record and
// refused when damaged, ELF headers checked against their own tables, and
// the chip an image is for told from what it holds.
#include "firmware_image.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace avrboard {
namespace {

constexpr uint32_t kLargest = 256 * 1024;

// One Intel HEX record with its checksum.
std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  bytes.push_back(static_cast<uint8_t>(-sum));
  std::string line = ":";
  char pair[3];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    line += pair;
  }
  return line + "\r\n";
}

const std::string kEnd = Record(0x01, 0, {});

// A program that starts with `vectors` JMPs to 0x100, then code that is none.
std::vector<uint8_t> WithVectorTable(int vectors) {
  std::vector<uint8_t> flash;
  for (int i = 0; i < vectors; ++i) flash.insert(flash.end(), {0x0C, 0x94, 0x80, 0x00});
  flash.insert(flash.end(), {0x11, 0x24, 0x1F, 0xBE, 0xCF, 0xEF});  // eor, out, ldi
  return flash;
}

TEST(IntelHexTest, RecordsLandAtTheirAddressesAndGapsReadErased) {
  const std::string text = Record(0x00, 0x0000, {0x0C, 0x94}) + Record(0x00, 0x0004, {0xAA}) +
                           Record(0x05, 0, {0, 0, 0, 0}) + kEnd;
  std::string error;
  std::optional<std::vector<uint8_t>> flash = ParseIntelHex(text, kLargest, &error);
  ASSERT_TRUE(flash) << error;
  EXPECT_EQ(*flash, (std::vector<uint8_t>{0x0C, 0x94, 0xFF, 0xFF, 0xAA}));
}

TEST(IntelHexTest, ExtendedAddressesReachPast64K) {
  // A Mega's program above 64 KiB: linear (type 4) and segment (type 2) bases.
  const std::string linear = Record(0x04, 0, {0x00, 0x01}) + Record(0x00, 0x0002, {0x55}) + kEnd;
  const std::string segment = Record(0x02, 0, {0x10, 0x00}) + Record(0x00, 0x0002, {0x55}) + kEnd;
  for (const std::string& text : {linear, segment}) {
    std::string error;
    std::optional<std::vector<uint8_t>> flash = ParseIntelHex(text, kLargest, &error);
    ASSERT_TRUE(flash) << error;
    ASSERT_EQ(flash->size(), 0x10003u);
    EXPECT_EQ((*flash)[0x10002], 0x55);
    EXPECT_EQ((*flash)[0], 0xFF);
  }
}

TEST(IntelHexTest, DamagedFilesAreRefused) {
  const std::string good = Record(0x00, 0, {1, 2, 3, 4});
  std::string bad_checksum = good;
  bad_checksum[bad_checksum.size() - 3] ^= 1;  // the checksum's last digit
  std::string wrong_length = good;
  wrong_length[2] = '5';  // says 5 bytes, holds 4
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"cut short before its end record", good},
      {"cut short inside a record", good + good.substr(0, 7)},
      {"a wrong checksum", bad_checksum + kEnd},
      {"a wrong length", wrong_length + kEnd},
      {"a character that is no hex digit", ":04000000010G030402\r\n" + kEnd},
      {"an odd number of digits", ":0400000001020304F\r\n" + kEnd},
      {"text that is no record", good + "hello\r\n" + kEnd},
      {"an unknown record type", Record(0x07, 0, {}) + kEnd},
      {"no program at all", kEnd},
      {"data beyond the largest flash", Record(0x04, 0, {0x00, 0x04}) + good + kEnd},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseIntelHex(c.text, kLargest, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(IntelHexTest, FormatIsToldFromTheFirstBytes) {
  EXPECT_EQ(FormatOf("\x7f"
                     "ELF\x01\x01"),
            ImageFormat::kElf);
  EXPECT_EQ(FormatOf("\r\n  " + kEnd), ImageFormat::kIntelHex);
  EXPECT_EQ(FormatOf("#!/bin/sh\n"), ImageFormat::kUnknown);
  EXPECT_EQ(FormatOf(""), ImageFormat::kUnknown);
}

// A 32-bit little-endian ELF header for `machine` with `flags`, and one
// section header table entry of type PROGBITS at `section_offset` holding
// `section_size` bytes, padded to `file_size`.
std::string ElfFile(uint16_t machine, uint32_t flags, uint32_t section_offset,
                    uint32_t section_size, size_t file_size) {
  std::string file(file_size, '\0');
  const auto put16 = [&file](size_t at, uint16_t value) {
    file[at] = static_cast<char>(value & 0xFF);
    file[at + 1] = static_cast<char>(value >> 8);
  };
  const auto put32 = [&](size_t at, uint32_t value) {
    put16(at, static_cast<uint16_t>(value & 0xFFFF));
    put16(at + 2, static_cast<uint16_t>(value >> 16));
  };
  file.replace(0, 4,
               "\x7f"
               "ELF");
  file[4] = 1;  // 32-bit
  file[5] = 1;  // little-endian
  put16(18, machine);
  put32(32, 52);  // section headers right after the file header
  put32(36, flags);
  put16(46, 40);  // one entry of 40 bytes
  put16(48, 1);
  put32(52 + 4, 1);  // SHT_PROGBITS
  put32(52 + 16, section_offset);
  put32(52 + 20, section_size);
  return file;
}

TEST(ElfHeaderTest, ArchitectureComesFromTheFlags) {
  std::string error;
  EXPECT_EQ(ElfAvrArchitecture(ElfFile(83, 0x85, 92, 8, 100), &error), std::optional<uint8_t>(5))
      << error;
  EXPECT_EQ(ElfAvrArchitecture(ElfFile(83, 6, 92, 8, 100), &error), std::optional<uint8_t>(6))
      << error;
}

TEST(ElfHeaderTest, OtherMachinesAndCutFilesAreRefused) {
  const struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"an x86-64 ELF", ElfFile(62, 5, 92, 8, 100)},
      {"a section past the end", ElfFile(83, 5, 92, 80, 100)},
      {"a section table past the end", ElfFile(83, 5, 92, 8, 100).substr(0, 80)},
      {"only part of a header", ElfFile(83, 5, 92, 8, 100).substr(0, 40)},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ElfAvrArchitecture(c.file, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(ChipOfImageTest, VectorTableTellsTheChip) {
  ImageFacts uno{WithVectorTable(26), "", std::nullopt};
  ImageFacts mega{WithVectorTable(57), "", std::nullopt};
  ImageFacts neither{WithVectorTable(3), "", std::nullopt};
  ASSERT_TRUE(ChipOfImage(uno));
  EXPECT_STREQ(ChipOfImage(uno)->chip->mcu, "atmega328p");
  ASSERT_TRUE(ChipOfImage(mega));
  EXPECT_STREQ(ChipOfImage(mega)->chip->mcu, "atmega2560");
  EXPECT_FALSE(ChipOfImage(neither));
}

TEST(ChipOfImageTest, MmcuSectionThenArchitectureOutweighTheVectors) {
  // Each tell is more direct than the one after it.
  ImageFacts named{WithVectorTable(26), "atmega2560", uint8_t{5}};
  EXPECT_STREQ(ChipOfImage(named)->chip->mcu, "atmega2560");
  ImageFacts built{WithVectorTable(26), "", uint8_t{6}};
  EXPECT_STREQ(ChipOfImage(built)->chip->mcu, "atmega2560");
}

TEST(MismatchTest, ImageForTheOtherChipNamesItsMcu) {
  const ChipTraits& uno = *ChipTraitsOf("atmega328p");
  const ChipTraits& mega = *ChipTraitsOf("atmega2560");
  ImageFacts uno_image{WithVectorTable(26), "", std::nullopt};
  ImageFacts mega_image{WithVectorTable(57), "", std::nullopt};
  EXPECT_EQ(MismatchWithChip(uno_image, uno), "");
  EXPECT_EQ(MismatchWithChip(mega_image, mega), "");
  EXPECT_NE(MismatchWithChip(mega_image, uno).find("--mcu atmega2560"), std::string::npos);
  EXPECT_NE(MismatchWithChip(uno_image, mega).find("--mcu atmega328p"), std::string::npos);
}

TEST(MismatchTest, ImageLargerThanTheFlashNeverFits) {
  const ChipTraits& uno = *ChipTraitsOf("atmega328p");
  // Nothing in it tells the chip; its size alone rules the Uno out.
  ImageFacts large{std::vector<uint8_t>(40 * 1024, 0xFF), "", std::nullopt};
  const std::string mismatch = MismatchWithChip(large, uno);
  EXPECT_NE(mismatch.find("--mcu atmega2560"), std::string::npos) << mismatch;
  ImageFacts small{std::vector<uint8_t>(1024, 0xFF), "", std::nullopt};
  EXPECT_EQ(MismatchWithChip(small, uno), "");
}

TEST(MismatchTest, ChipsAvrboardLacksAreRefused) {
  const ChipTraits& uno = *ChipTraitsOf("atmega328p");
  EXPECT_NE(MismatchWithChip({WithVectorTable(26), "attiny85", std::nullopt}, uno), "");
  EXPECT_NE(MismatchWithChip({WithVectorTable(26), "", uint8_t{2}}, uno), "");
}

}  // namespace
}  // namespace avrboard
