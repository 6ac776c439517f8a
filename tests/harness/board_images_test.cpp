// The harness's parts for the firmware in avrboard: the table of images
// against firmware/build.sh, which writes them; the avrboard starter against
// stand-ins that say what avrboard says; and the scratch folder the tests
// keep its terminals and logs in.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "child_process.h"
#include "files.h"
#include "firmware_images.h"

namespace harness {
namespace {

// A shell script at `path` standing in for avrboard.
void WriteStandIn(const std::string& path, const std::string& script) {
  WriteFile(path, "#!/bin/sh\n" + script + "\n");
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

TEST(BoardImagesTest, AreTheImagesFirmwareBuildWritesInItsOrder) {
  // --list builds nothing; a folder with the Ethernet library's header is
  // all it needs to count the Ethernet images in.
  TempDir dir;
  std::filesystem::create_directories(dir.File("Ethernet/src"));
  WriteFile(dir.File("Ethernet/src/Ethernet.h"), "");
  const RunResult listed = RunProgram({SOURCE_DIR "/firmware/build.sh", "--list"},
                                      {"ARDUINO_ETHERNET_LIBRARY=" + dir.File("Ethernet")});
  if (listed.exit_code != 0 && listed.err.find("not found") != std::string::npos) {
    GTEST_SKIP() << listed.err;
  }
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  std::string expected;
  for (const BoardImage& image : BoardImages()) {
    expected += "build/firmware/" + image.Name() + ".hex\n";
  }
  EXPECT_EQ(listed.out, expected);
}

struct ImageRow {
  const char* folder;
  ImageLink link;
  int32_t baud;
  const char* board;
  const char* mcu;
  const char* name;
};

class BoardImageLookupTest : public ::testing::TestWithParam<ImageRow> {};

TEST_P(BoardImageLookupTest, FindsTheImageWithItsChipAndPaths) {
  const ImageRow& row = GetParam();
  const BoardImage& image = FindBoardImage(row.folder, row.link, row.baud);
  EXPECT_STREQ(image.board, row.board);
  EXPECT_STREQ(image.mcu, row.mcu);
  EXPECT_EQ(image.link, row.link);
  EXPECT_EQ(image.baud, row.baud);
  EXPECT_EQ(image.Name(), row.name);
  EXPECT_EQ(image.Elf("/firmware"), std::string("/firmware/") + row.name + ".elf");
}

INSTANTIATE_TEST_SUITE_P(
    Images, BoardImageLookupTest,
    ::testing::Values(
        ImageRow{"uno", ImageLink::kSerial, 9600, "Uno", "atmega328p", "uno/arduino_block-9600"},
        ImageRow{"uno", ImageLink::kSerial, 115200, "Uno", "atmega328p",
                 "uno/arduino_block-115200"},
        ImageRow{"mega2560", ImageLink::kSerial, 38400, "Mega 2560", "atmega2560",
                 "mega2560/arduino_block-38400"},
        ImageRow{"uno", ImageLink::kEthernet, 0, "Uno", "atmega328p", "uno/arduino_block-ethernet"},
        ImageRow{"mega2560", ImageLink::kEthernet, 0, "Mega 2560", "atmega2560",
                 "mega2560/arduino_block-ethernet"}));

TEST(BoardImagesTest, AnImageNoBuildWritesIsRefused) {
  EXPECT_THROW(FindBoardImage("uno", ImageLink::kSerial, 57600), std::out_of_range);
  EXPECT_THROW(FindBoardImage("leonardo", ImageLink::kSerial, 9600), std::out_of_range);
  EXPECT_THROW(FindBoardImage("uno", ImageLink::kEthernet, 9600), std::out_of_range);
  EXPECT_THROW(FindBoardImage("uno", ImageLink::kSerial, 0), std::out_of_range);
}

TEST(AvrboardStarterTest, WaitsForTheReadyLineAndPassesTheArguments) {
  TempDir dir;
  const std::string avrboard = dir.File("avrboard");
  WriteStandIn(avrboard,
               "echo \"avrboard: loading $2\" >&2\n"
               "echo \"avrboard: ready, serial on $4\" >&2\n"
               "exec sleep 30");
  ChildProcess board = StartAvrboard(avrboard, {"--firmware", "x.elf", "--pty", "/dev/null"});
  EXPECT_EQ(board.ready_line(), "avrboard: ready, serial on /dev/null");
  EXPECT_NE(board.stderr_text().find("avrboard: loading x.elf\n"), std::string::npos);
}

TEST(AvrboardStarterTest, BoardThatEndsBeforeItIsReadySaysWhy) {
  TempDir dir;
  const std::string avrboard = dir.File("avrboard");
  WriteStandIn(avrboard, "echo 'avrboard: x.elf is not an AVR image' >&2; exit 3");
  std::string why;
  EXPECT_FALSE(TryStartAvrboard(avrboard, {"--firmware", "x.elf"}, &why));
  EXPECT_NE(why.find("is not an AVR image"), std::string::npos) << why;
  try {
    StartAvrboard(avrboard, {"--firmware", "x.elf"});
    ADD_FAILURE() << "a board that ended was taken as started";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("avrboard did not start"), std::string::npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find("is not an AVR image"), std::string::npos)
        << error.what();
  }
}

TEST(AvrboardStarterTest, SaysWhyNoAvrboardCanRun) {
  TempDir dir;
  const std::string avrboard = dir.File("avrboard");
  EXPECT_NE(WhyNoAvrboard(""), "") << "a build without avrboard";
  EXPECT_NE(WhyNoAvrboard(avrboard), "") << "no file";
  WriteFile(avrboard, "not a program");
  EXPECT_NE(WhyNoAvrboard(avrboard), "") << "a file that cannot be run";
  WriteStandIn(avrboard, "exit 0");
  EXPECT_EQ(WhyNoAvrboard(avrboard), "");
}

TEST(TempDirTest, EachIsFreshAndGoesWithEverythingInIt) {
  std::string kept;
  {
    TempDir first;
    TempDir second;
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(std::filesystem::is_directory(first.path()));
    EXPECT_TRUE(std::filesystem::is_empty(first.path()));
    std::filesystem::create_directories(first.File("deeper/still"));
    WriteFile(first.File("deeper/still/log"), "bytes");
    EXPECT_EQ(ReadFile(first.File("deeper/still/log")), "bytes");
    kept = first.path();
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

}  // namespace
}  // namespace harness
