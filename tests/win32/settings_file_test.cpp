// The settings block as the DLL writes and reads it through a Win32 file
// handle.  Project files move between Windows and Linux installations, so
// the bytes must be those of the Linux build.
#include <gtest/gtest.h>

#include "block_dll.h"
#include "test_platform.h"

namespace arduino::testing {
namespace {

// What the Linux build writes for a new block.
const char kDefaultBlock[] =
    "0\r\n1\r\n9600\r\n192.168.0.121\r\n1600\r\n"
    "1\r\n1\r\n1\r\n1\r\n2\r\n2\r\n2\r\n2\r\n"
    "1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n";

TEST(SettingsFileTest, NewBlockWritesTheSameSeventyFiveBytesAsOnLinux) {
  DllBlock block;
  ScratchFile file;
  Dll().WriteToFile(file.handle(), block.record());
  EXPECT_EQ(file.Contents(), kDefaultBlock);
  EXPECT_EQ(file.Position(), 75);
}

TEST(SettingsFileTest, BlockReadFromAFileIsWrittenBackByteForByte) {
  const std::string stored =
      SettingsText({"1", "12", "115200", "board.local", "8888", "3", "0", "1", "2", "3", "0", "1",
                    "2", "0", "1", "0", "1", "0", "1"});
  ScratchFile file;
  file.Replace(stored + "next block");
  DllBlock block;
  // Only the low 16 bits of the handle count; the host passes junk above.
  Dll().ReadFromFile(file.handle() | 0x55AA0000u, block.record());
  EXPECT_EQ(file.Position(), static_cast<off_t>(stored.size())) << "read past the block";

  ScratchFile copy;
  Dll().WriteToFile(copy.handle(), block.record());
  EXPECT_EQ(copy.Contents(), stored);
}

TEST(SettingsFileTest, UnreadableLineRaisesEConvertErrorInCodePage1252) {
  ScratchFile file;
  file.Replace(SettingsText({"0", "x1"}));
  DllBlock block;
  auto error = CatchBlockError([&] { Dll().ReadFromFile(file.handle(), block.record()); });
  ASSERT_TRUE(error) << "no error for an unreadable line";
  EXPECT_EQ(error->class_name, "EConvertError");
  EXPECT_EQ(error->message, "'x1' ist kein g\xfcltiger Integerwert");
}

// The longest line the block reads is quoted whole in the message, so the
// host still sees what was wrong with it at the end.
TEST(SettingsFileTest, LongestUnreadableLineIsQuotedWhole) {
  const std::string line(999, '9');
  ScratchFile file;
  file.Replace(SettingsText({"0", "1", "9600", "127.0.0.1", line}));
  DllBlock block;
  auto error = CatchBlockError([&] { Dll().ReadFromFile(file.handle(), block.record()); });
  ASSERT_TRUE(error) << "no error for a number out of range";
  EXPECT_EQ(error->class_name, "EConvertError");
  EXPECT_EQ(error->message, "'" + line + "' ist kein g\xfcltiger Integerwert");
}

}  // namespace
}  // namespace arduino::testing
