// The EEPROM file: blank when missing, refused at a wrong size, replaced
// whole by a save.
#include "eeprom_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "files.h"

namespace avrboard {
namespace {

class EepromFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_.emplace().path();
    path_ = dir_ + "/eeprom.bin";
  }
  std::optional<harness::TempDir> scratch_;
  std::string dir_;
  std::string path_;
  std::string error_;
};

TEST_F(EepromFileTest, MissingFileIsBlank) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(LoadEepromFile(path_, 1024, &bytes, &error_)) << error_;
  EXPECT_EQ(bytes, std::vector<uint8_t>(1024, 0xFF));
}

TEST_F(EepromFileTest, SavedBytesLoadAgain) {
  std::vector<uint8_t> bytes(4096);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(SaveEepromFile(path_, bytes, &error_)) << error_;
  std::vector<uint8_t> loaded;
  ASSERT_TRUE(LoadEepromFile(path_, 4096, &loaded, &error_)) << error_;
  EXPECT_EQ(loaded, bytes);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp")) << "the temporary file stayed";
  // A second save replaces the first whole.
  bytes.assign(4096, 0x42);
  ASSERT_TRUE(SaveEepromFile(path_, bytes, &error_)) << error_;
  ASSERT_TRUE(LoadEepromFile(path_, 4096, &loaded, &error_)) << error_;
  EXPECT_EQ(loaded, bytes);
}

TEST_F(EepromFileTest, WrongSizeIsRefusedAndLeftAlone) {
  std::ofstream(path_, std::ios::binary) << std::string(1000, 'x');
  std::vector<uint8_t> bytes = {1, 2, 3};
  EXPECT_FALSE(LoadEepromFile(path_, 1024, &bytes, &error_));
  EXPECT_NE(error_.find("1000 bytes"), std::string::npos) << error_;
  EXPECT_NE(error_.find("1024"), std::string::npos) << error_;
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::filesystem::file_size(path_), 1000u);
}

TEST_F(EepromFileTest, UnwritablePlaceIsAnError) {
  EXPECT_FALSE(SaveEepromFile(dir_ + "/no/such/dir/eeprom.bin", {1, 2}, &error_));
  EXPECT_NE(error_.find("no/such/dir"), std::string::npos) << error_;
}

}  // namespace
}  // namespace avrboard
