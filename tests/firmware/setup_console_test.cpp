// The setup console's line commands: one answer line per command, bad input
// refused with an error line and nothing changed or saved.
#include "setup_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_storage.h"

namespace {

using board::NetworkSettings;
using board_test::FakeStorage;

// Collects the answer lines, each ended by EndLine.
class FakeOutput : public board::ConsoleOutput {
 public:
  std::vector<std::string> lines;
  std::string partial;
  void Write(const char* text) override { partial += text; }
  void WriteFlash(const char* text) override { partial += text; }
  void EndLine() override {
    lines.push_back(partial);
    partial.clear();
  }
};

class SetupConsoleTest : public ::testing::Test {
 protected:
  SetupConsoleTest()
      : settings_(board::DefaultNetworkSettings()), console_(storage_, settings_, output_) {}

  // Feeds `bytes` and returns the answer lines they produced, and in
  // *changed whether any command asked for the settings to be applied.
  std::vector<std::string> Type(const std::string& bytes, bool* changed = nullptr) {
    output_.lines.clear();
    bool any = false;
    for (char byte : bytes) any = console_.Feed(byte) || any;
    if (changed) *changed = any;
    EXPECT_EQ(output_.partial, "") << "an answer was left without its line end";
    return output_.lines;
  }
  std::string Address() const {
    const uint8_t* a = settings_.address;
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
  }
  NetworkSettings Stored() {
    NetworkSettings stored;
    EXPECT_TRUE(board::LoadNetworkSettings(storage_, &stored));
    return stored;
  }

  FakeStorage storage_;
  NetworkSettings settings_;
  FakeOutput output_;
  board::SetupConsole console_;
};

using Lines = std::vector<std::string>;

TEST_F(SetupConsoleTest, ShowsTheCurrentSettings) {
  EXPECT_EQ(Type("show\n"),
            Lines{"arduino-block ethernet 192.168.0.121 port 1600 mac DE:AD:BE:EF:16:00"});
  EXPECT_EQ(Type("address\r\n"), Lines{"address 192.168.0.121"});
  EXPECT_EQ(Type("mac\r"), Lines{"mac DE:AD:BE:EF:16:00"});
  EXPECT_EQ(Type("help\n").size(), 1u);
  EXPECT_EQ(storage_.writes, 0) << "showing saves nothing";
}

TEST_F(SetupConsoleTest, ANewAddressIsSavedAndReportedForApplying) {
  bool changed = false;
  EXPECT_EQ(Type("address 10.0.0.50\r\n", &changed), Lines{"address 10.0.0.50 saved"});
  EXPECT_TRUE(changed);
  EXPECT_EQ(Address(), "10.0.0.50");
  EXPECT_EQ(Stored().address[0], 10);
  EXPECT_EQ(Stored().address[3], 50);
  EXPECT_EQ(Type("show\n"),
            Lines{"arduino-block ethernet 10.0.0.50 port 1600 mac DE:AD:BE:EF:16:00"});
}

TEST_F(SetupConsoleTest, ANewMacIsSavedInUpperCase) {
  bool changed = false;
  EXPECT_EQ(Type("mac de-ad-be-ef-16-01\n", &changed), Lines{"mac DE:AD:BE:EF:16:01 saved"});
  EXPECT_TRUE(changed);
  EXPECT_EQ(Stored().mac[5], 0x01);
  EXPECT_EQ(Address(), "192.168.0.121") << "the address is left alone";
}

TEST_F(SetupConsoleTest, ResetSavesTheDefaults) {
  Type("address 10.0.0.50\nmac 02:00:00:00:00:07\n");
  bool changed = false;
  EXPECT_EQ(Type("reset\n", &changed),
            Lines{"defaults saved: address 192.168.0.121 mac DE:AD:BE:EF:16:00"});
  EXPECT_TRUE(changed);
  EXPECT_EQ(Stored().address[3], 121);
  EXPECT_EQ(Stored().mac[5], 0x00);
}

TEST_F(SetupConsoleTest, CommandsTakeAnyCaseAndSpaces) {
  EXPECT_EQ(Type("  ADDRESS   10.1.2.3  \n"), Lines{"address 10.1.2.3 saved"});
  EXPECT_EQ(Type("\tShow\n").size(), 1u);
}

TEST_F(SetupConsoleTest, EmptyLinesGetNoAnswer) {
  EXPECT_EQ(Type("\r\n\n   \r\n"), Lines{});
  EXPECT_EQ(Type("address\r\n\r\naddress\n"),
            (Lines{"address 192.168.0.121", "address 192.168.0.121"}));
}

// Each bad line earns one error line naming what was wrong, and neither the
// settings nor the EEPROM change.
TEST_F(SetupConsoleTest, BadInputChangesNothing) {
  const char* bad_lines[] = {
      "address 300.1.2.3",
      "address 10.0.0",
      "address 10.0.0.50.1",
      "address 10.0.0.x",
      "address 10..0.50",
      "address 10.0.0.0050",
      "address 10.0.0.50 x",
      "address -1.0.0.1",
      "address 0.0.0.0",
      "address 127.0.0.1",
      "address 10.0.0.255",
      "address 239.1.1.1",
      "mac DE:AD:BE:EF:16",
      "mac DE:AD:BE:EF:16:0",
      "mac DE:AD:BE:EF:16:001",
      "mac DE:AD-BE:EF:16:01",
      "mac GG:AD:BE:EF:16:01",
      "mac 00:00:00:00:00:00",
      "mac 01:00:5E:00:00:01",
      "reset now",
      "addresses",
      "frobnicate",
      "show all",
      "?14s?",
  };
  for (const char* line : bad_lines) {
    bool changed = true;
    Lines answer = Type(std::string(line) + "\n", &changed);
    ASSERT_EQ(answer.size(), 1u) << line;
    EXPECT_EQ(answer[0].rfind("error: ", 0), 0u) << line << " -> " << answer[0];
    EXPECT_FALSE(changed) << line;
  }
  EXPECT_EQ(storage_.writes, 0);
  EXPECT_EQ(Address(), "192.168.0.121");
  EXPECT_EQ(Type("mac\n"), Lines{"mac DE:AD:BE:EF:16:00"});
}

TEST_F(SetupConsoleTest, AnErrorNamesTheBadValue) {
  Lines answer = Type("address 300.1.2.3\n");
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_NE(answer[0].find("300.1.2.3"), std::string::npos) << answer[0];
}

TEST_F(SetupConsoleTest, AnOverlongLineIsRefusedWholeAndTheNextOneWorks) {
  EXPECT_EQ(Type("address 10.0.0.50" + std::string(200, ' ') + "x\n"),
            Lines{"error: line too long; try help"});
  EXPECT_EQ(Address(), "192.168.0.121");
  EXPECT_EQ(storage_.writes, 0);
  EXPECT_EQ(Type("address\n"), Lines{"address 192.168.0.121"});
  // The longest line that fits is taken.
  std::string longest = "address 10.0.0.50";
  longest += std::string(board::kConsoleLineCapacity - longest.size(), ' ');
  EXPECT_EQ(Type(longest + "\n"), Lines{"address 10.0.0.50 saved"});
}

TEST(ParseAddressTest, TakesFourParts) {
  uint8_t address[4] = {1, 1, 1, 1};
  EXPECT_TRUE(board::ParseAddress("255.0.9.100", address));
  EXPECT_EQ(std::vector<int>(address, address + 4), (std::vector<int>{255, 0, 9, 100}));
  EXPECT_FALSE(board::ParseAddress("256.0.0.1", address));
  EXPECT_FALSE(board::ParseAddress("", address));
  EXPECT_FALSE(board::ParseAddress("1.2.3.4.", address));
  EXPECT_EQ(address[0], 255) << "a refused text leaves the address alone";
}

}  // namespace
