// The settings block in the host's project file.
#include "config/settings_block.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace arduino {
namespace {

using testing::HostBlock;
using testing::ScratchFile;

const char kDefaultBlock[] =
    "0\r\n1\r\n9600\r\n192.168.0.121\r\n1600\r\n"
    "1\r\n1\r\n1\r\n1\r\n2\r\n2\r\n2\r\n2\r\n"
    "1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n";

std::string BlockOf(std::initializer_list<std::string> lines) {
  std::string block;
  for (const auto& line : lines) block += line + "\r\n";
  return block;
}

TEST(SettingsBlockTest, DefaultsAreTheseSeventyFiveBytes) {
  HostBlock block;
  ScratchFile file;
  WriteToFile(file.handle(), block.record());
  EXPECT_EQ(file.Contents(), kDefaultBlock);
  EXPECT_EQ(file.Contents().size(), 75u);
}

TEST(SettingsBlockTest, OddValuesSurviveARoundTrip) {
  HostBlock writer;
  TUserData& w = writer.data();
  w.InterfaceKind = 7;
  w.ComPort = -1;
  w.BaudRate = 57600;
  w.IPAddress = "";
  w.UdpPort = INT32_MIN;
  w.PinMode[2] = -1;
  w.PinMode[3] = pmPWMOutput;
  w.PinMode[9] = INT32_MAX;
  w.AnalogUsed[5] = 0;
  w.AnalogUsed[0] = 42;
  ScratchFile file;
  WriteToFile(file.handle(), writer.record());
  file.Rewind();
  HostBlock reader;
  ReadFromFile(file.handle(), reader.record());
  TUserData& r = reader.data();
  EXPECT_EQ(r.InterfaceKind, 7);
  EXPECT_EQ(r.ComPort, -1);
  EXPECT_EQ(r.BaudRate, 57600);
  EXPECT_EQ(r.IPAddress, "");
  EXPECT_EQ(r.UdpPort, INT32_MIN);
  for (int pin = 2; pin <= 9; ++pin) EXPECT_EQ(r.PinMode[pin], w.PinMode[pin]) << pin;
  EXPECT_EQ(r.AnalogUsed, w.AnalogUsed);
  EXPECT_EQ(file.Position(), static_cast<off_t>(file.Contents().size()));
}

TEST(SettingsBlockTest, ReadingStopsRightAfterTheLastLine) {
  ScratchFile file;
  file.Replace(std::string(kDefaultBlock) + "HOST DATA");
  HostBlock block;
  block.data().InterfaceKind = 3;
  ReadFromFile(file.handle() | 0xABCD0000u, block.record());  // only the low 16 bits count
  EXPECT_EQ(file.Position(), 75);
  EXPECT_EQ(block.data().InterfaceKind, 0);
}

TEST(SettingsBlockTest, LinesEndOnlyAtCarriageReturnLineFeed) {
  ScratchFile file;
  std::string address = std::string("a\rb\nc") + '\0' + "hidden";
  file.Replace(BlockOf({" 12", "1", "9600", address, "1600", "1", "1", "1", "1", "2", "2", "2",
                        "2", "1", "1", "1", "1", "1", "1"}));
  HostBlock block;
  ReadFromFile(file.handle(), block.record());
  EXPECT_EQ(block.data().InterfaceKind, 12);
  EXPECT_EQ(block.data().IPAddress, "a\rb\nc");
}

TEST(SettingsBlockTest, ConversionFailureStopsAtItsLine) {
  for (const std::string bad : {"", "12 ", "x", "1.5"}) {
    ScratchFile file;
    std::string first_two = BlockOf({"1", bad});
    file.Replace(first_two + BlockOf({"115200", "10.0.0.1", "8888"}));
    HostBlock block;
    try {
      ReadFromFile(file.handle(), block.record());
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()),
                "'" + bad + "' ist kein g" + testing::kUUmlaut + "ltiger Integerwert");
    }
    TUserData& d = block.data();
    EXPECT_EQ(d.InterfaceKind, 1) << "line 1 was stored before line 2 failed";
    EXPECT_EQ(d.ComPort, 1);
    EXPECT_EQ(d.BaudRate, 9600);
    EXPECT_EQ(d.IPAddress, "192.168.0.121");
    EXPECT_EQ(file.Position(), static_cast<off_t>(first_two.size()));
  }
}

TEST(SettingsBlockTest, TruncatedBlockFailsClearlyWithoutWaiting) {
  const std::string full = kDefaultBlock;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{4}, full.size() - 1}) {
    ScratchFile file;
    file.Replace(full.substr(0, cut));
    HostBlock block;
    try {
      ReadFromFile(file.handle(), block.record());
      ADD_FAILURE() << "no error for a block cut at " << cut;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("ends inside"), std::string::npos) << e.what();
    }
  }
}

TEST(SettingsBlockTest, OverlongLinesAreRefusedAtTheBufferLimit) {
  std::string longest(kMaxReadLineText, 'h');
  ScratchFile file;
  file.Replace(BlockOf({"0", "1", "9600", longest, "1600", "1", "1", "1", "1", "2", "2", "2",
                        "2", "1", "1", "1", "1", "1", "1"}));
  HostBlock block;
  ReadFromFile(file.handle(), block.record());
  EXPECT_EQ(block.data().IPAddress, longest);

  file.Replace(BlockOf({"0", "1", "9600", std::string(10000, 'h'), "1600"}));
  try {
    ReadFromFile(file.handle(), block.record());
    ADD_FAILURE() << "no error for a 10000-character line";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("longer than 999"), std::string::npos) << e.what();
  }
  EXPECT_LE(file.Position(), 3 + 2 + 3 + 6 + kLineBufferSize);
}

TEST(SettingsBlockTest, AddressTooLongToStoreWritesNothing) {
  HostBlock block;
  ScratchFile file;
  block.data().IPAddress = std::string(kMaxWrittenLineText, 'x');
  WriteToFile(file.handle(), block.record());
  EXPECT_EQ(file.Contents().size(), 75u - 13u + kMaxWrittenLineText);

  ScratchFile second;
  block.data().IPAddress += 'x';
  EXPECT_THROW(WriteToFile(second.handle(), block.record()), Exception);
  EXPECT_EQ(second.Contents(), "");
}

}  // namespace
}  // namespace arduino
