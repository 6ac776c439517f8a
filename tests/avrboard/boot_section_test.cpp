// The boards' bootloaders as avrboard reads them: Debian's Mega 2560 and
// old Nano bootloaders and the Uno's optiboot built by this tree, where
// avrboard looks for them beside itself, land at the top of the flash, the
// sections their high fuses give, and a file that
// would overwrite the program, reach past the flash or carry nothing for
// the boot section is refused saying where.
#include "boot_section.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace avrboard {
namespace {

// One Intel HEX data record of `bytes` at `address` (16 bits).
std::string Record(uint16_t address, const std::string& bytes) {
  char text[16];
  std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(bytes.size()), address);
  std::string record = text;
  unsigned sum = bytes.size() + (address >> 8) + (address & 0xFF);
  for (unsigned char byte : bytes) {
    std::snprintf(text, sizeof text, "%02X", byte);
    record += text;
    sum += byte;
  }
  std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return record + text;
}

const std::string kEnd = ":00000001FF\n";

// Where Debian's arduino-core-avr installs the boards' bootloaders.
const std::string kDebianBootloaders = "/usr/share/arduino/hardware/arduino/avr/bootloaders";

const BootSection& Uno() { return *BootSectionOf("atmega328p"); }
constexpr uint32_t kUnoFlash = 32 * 1024;

struct BadBootloader {
  const char* name;
  std::string hex;
  const char* said;  // what the error must name
};

class BadBootloaderTest : public ::testing::TestWithParam<BadBootloader> {};

TEST_P(BadBootloaderTest, IsRefusedSayingWhere) {
  std::string error;
  EXPECT_FALSE(BootloaderBytes(GetParam().hex, Uno(), kUnoFlash, &error));
  EXPECT_NE(error.find(GetParam().said), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadBootloaderTest,
    ::testing::Values(
        // A byte just below the section would overwrite the program's end.
        BadBootloader{"CodeBelowTheSection", Record(0x7DFF, "\x11") + Record(0x7E00, "AB") + kEnd,
                      "0x7DFF, below the boot section at 0x7E00"},
        // 20 bytes past the end, as Debian's prebuilt optiboot has.
        BadBootloader{"PastTheFlash",
                      Record(0x7FF0, std::string(16, 'x')) + Record(0x8000, "yyyy") + kEnd,
                      "reaches 0x8003, past the end of this chip's flash at 0x7FFF"},
        BadBootloader{"OnlyErasedBytes", Record(0x0100, "\xFF\xFF") + kEnd,
                      "no code in the boot section at 0x7E00"},
        BadBootloader{"CutShort", Record(0x7E00, "AB"), "end-of-file record"},
        BadBootloader{"NotHex", "hello\n", "Intel HEX, but"}),
    [](const ::testing::TestParamInfo<BadBootloader>& param) {
      return std::string(param.param.name);
    });

TEST(BootSectionTest, BytesStartAtTheSectionAndKeepGaps) {
  std::string error;
  const auto bytes =
      BootloaderBytes(Record(0x7E00, "AB") + Record(0x7E04, "CD") + kEnd, Uno(), kUnoFlash, &error);
  ASSERT_TRUE(bytes) << error;
  EXPECT_EQ(*bytes, (std::vector<uint8_t>{'A', 'B', 0xFF, 0xFF, 'C', 'D'}));
}

TEST(BootSectionTest, ReadingAMissingFileNamesItAndWhereAvrboardsOwnLie) {
  std::string error;
  EXPECT_FALSE(ReadBootloader("/nonexistent/boot.hex", Uno(), kUnoFlash, &error));
  EXPECT_NE(error.find("'/nonexistent/boot.hex'"), std::string::npos) << error;
  EXPECT_NE(error.find("bootloaders/ beside it"), std::string::npos) << error;
  EXPECT_NE(error.find("arduino-core-avr"), std::string::npos) << error;
}

// The boards' own bootloaders, where the build put them for the avrboard
// at its top: each fits its section, which its high fuse sizes, and starts
// with code there (a JMP or RJMP, not erased flash).
struct Installed {
  const char* board;
  uint32_t flash_size;
  uint32_t section_size;
  uint32_t smallest_section;  // the chip's, BOOTSZ 11; each step down doubles it
};

class InstalledBootloaderTest : public ::testing::TestWithParam<Installed> {};

TEST_P(InstalledBootloaderTest, FitsItsBootSection) {
  const BootSection& section = *BootSectionOfBoard(GetParam().board);
  EXPECT_EQ(section.start, GetParam().flash_size - GetParam().section_size);
  EXPECT_EQ(section.high_fuse & 1, 0) << "BOOTRST programmed: a reset starts in the section";
  const unsigned bootsz = (section.high_fuse >> 1) & 3;
  EXPECT_EQ(GetParam().smallest_section << (3 - bootsz), GetParam().section_size)
      << "the high fuse's BOOTSZ bits size another section";
  const std::string file = BootloaderFile(section, AVRBOARD_FOLDER);
  if (access(file.c_str(), R_OK) != 0) GTEST_SKIP() << "no bootloader at " << file;
  std::string error;
  const auto bytes = ReadBootloader(file, section, GetParam().flash_size, &error);
  ASSERT_TRUE(bytes) << error;
  EXPECT_LE(bytes->size(), GetParam().section_size);
  EXPECT_GT(bytes->size(), 256u);
  EXPECT_NE((*bytes)[0] | (*bytes)[1] << 8, 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(Boards, InstalledBootloaderTest,
                         ::testing::Values(Installed{"uno", 32 * 1024, 512, 512},
                                           Installed{"nano", 32 * 1024, 512, 512},
                                           Installed{"nano-old", 32 * 1024, 2048, 512},
                                           Installed{"mega2560", 256 * 1024, 8192, 1024}),
                         [](const ::testing::TestParamInfo<Installed>& param) {
                           std::string name = param.param.board;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

TEST(BootSectionTest, DebiansPrebuiltUnoBootloaderIsRefusedForOverrunningTheFlash) {
  const std::string file = kDebianBootloaders + "/optiboot/optiboot_atmega328.hex";
  std::ifstream in(file);
  if (!in) GTEST_SKIP() << "no bootloader at " << file;
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  EXPECT_FALSE(BootloaderBytes(text.str(), Uno(), kUnoFlash, &error));
  EXPECT_NE(error.find("past the end of this chip's flash"), std::string::npos) << error;
}

}  // namespace
}  // namespace avrboard
