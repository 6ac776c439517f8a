// avrboard and the images it is given: the Intel HEX images that ship run
// and answer like the ELF ones, an image for the other chip is refused
// before it runs with the --mcu it needs, and a damaged file ends avrboard
// with an error, never a signal.  Skips when avrboard or the images were
// not built.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "files.h"
#include "serial_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using harness::RunResult;

// avrboard's exit statuses: a damaged image, and the wrong chip for one.
constexpr int kBadImage = 1;
constexpr int kOtherChip = 2;

struct Board {
  const char* name;
  const char* mcu;
  const char* other_mcu;
  const char* image;  // under build/firmware, without its extension
  std::string Image(const char* extension) const {
    return std::string(FIRMWARE_DIR) + "/" + image + "." + extension;
  }
};
const Board kBoards[] = {{"Uno", "atmega328p", "atmega2560", "uno/arduino_block-9600"},
                         {"Mega2560", "atmega2560", "atmega328p", "mega2560/arduino_block-9600"}};

using harness::ReadFile;
using harness::WriteFile;

class AvrImageTest : public ::testing::TestWithParam<Board> {
 protected:
  void SetUp() override {
    if (const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) {
      GTEST_SKIP() << why;
    }
    for (const char* extension : {"elf", "hex"}) {
      if (access(GetParam().Image(extension).c_str(), R_OK) != 0) {
        GTEST_SKIP() << "no image at " << GetParam().Image(extension)
                     << "; build the images with firmware/build.sh first";
      }
    }
    dir_ = scratch_.emplace().path();
  }

  // avrboard run to its end on `image` with `mcu`; a board that would run
  // is stopped by the time-out, which then shows as exit code -1.
  RunResult RunOn(const std::string& image, const std::string& mcu) const {
    return harness::RunProgram(
        {AVRBOARD_PATH, "--mcu", mcu, "--firmware", image, "--pty", dir_ + "/tty"}, {},
        std::chrono::seconds(20));
  }

  std::optional<harness::TempDir> scratch_;
  std::string dir_;
};

TEST_P(AvrImageTest, ImageForTheOtherChipIsRefusedNamingItsMcu) {
  for (const char* extension : {"elf", "hex"}) {
    const RunResult result = RunOn(GetParam().Image(extension), GetParam().other_mcu);
    EXPECT_EQ(result.exit_code, kOtherChip) << extension << ": " << result.err;
    EXPECT_NE(result.err.find(std::string("--mcu ") + GetParam().mcu), std::string::npos)
        << extension << ": " << result.err;
    // Refused before the chip ran: no ready line, nothing on the terminal.
    EXPECT_EQ(result.err.find("avrboard: ready"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << extension;
  }
}

TEST_P(AvrImageTest, DamagedImagesEndWithAnErrorNotASignal) {
  const std::string elf = ReadFile(GetParam().Image("elf"));
  const std::string hex = ReadFile(GetParam().Image("hex"));
  std::string flipped_checksum = hex;
  flipped_checksum[hex.find('\n') - 2] ^= 1;
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  const std::pair<const char*, std::string> cases[] = {
      {"elf cut in its header", elf.substr(0, 40)},
      {"elf cut at a third", elf.substr(0, elf.size() / 3)},
      {"elf cut just short", elf.substr(0, elf.size() - 1)},
      {"hex cut at half", hex.substr(0, hex.size() / 2)},
      {"hex with a bad checksum", flipped_checksum},
      {"garbage", garbage},
      {"garbage after the ELF magic",
       "\x7f"
       "ELF" +
           garbage},
      {"empty file", ""},
  };
  const std::string path = dir_ + "/image";
  for (const auto& [what, contents] : cases) {
    WriteFile(path, contents);
    const RunResult result = RunOn(path, GetParam().mcu);
    EXPECT_EQ(result.exit_code, kBadImage) << what << ": " << result.err;
    EXPECT_NE(result.err.find(path), std::string::npos) << what << ": " << result.err;
  }
  const RunResult missing = RunOn(dir_ + "/no-such-image.hex", GetParam().mcu);
  EXPECT_EQ(missing.exit_code, kBadImage) << missing.err;
}

// Starts avrboard on `image` and waits for its ready line.
harness::ChildProcess StartBoard(const std::string& image, const std::string& mcu,
                                 const std::string& link, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--mcu", mcu,  "--firmware", image,
                                   "--pty", link, "--adc",      "A0=512"};
  args.insert(args.end(), extra.begin(), extra.end());
  return harness::StartAvrboard(AVRBOARD_PATH, args, std::chrono::seconds(20));
}

// Asks for A0 until the firmware answers (it starts again whenever the port
// opens) or the time runs out; the last reply seen.
std::string AskA0(const std::string& link) {
  harness::SerialClient serial(link);
  if (!serial.valid()) return "cannot open " + link;
  std::string reply;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    serial.Write("?14s?");
    reply = serial.ReadUntil("\r\n", std::chrono::seconds(2));
    if (reply.size() >= 5 && reply.compare(reply.size() - 5, 5, "512\r\n") == 0) return "512";
  }
  return reply;
}

TEST_P(AvrImageTest, HexImageRunsAndAnswersQuietly) {
  const std::string link = dir_ + "/tty";
  harness::ChildProcess board = StartBoard(GetParam().Image("hex"), GetParam().mcu, link);
  EXPECT_EQ(AskA0(link), "512");
  EXPECT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
  // simavr's own account of what it loaded stays out of avrboard's.
  EXPECT_EQ(board.stderr_text().find("Loaded"), std::string::npos) << board.stderr_text();
  EXPECT_EQ(board.stderr_text().find(GetParam().mcu + std::string(" init")), std::string::npos)
      << board.stderr_text();
  // The rate is the one the image set, said once, though opening the port
  // reset the chip; a UART not yet set up by the firmware has no rate.
  std::vector<std::string> rates;
  std::istringstream lines(board.stderr_text());
  for (std::string line; std::getline(lines, line);) {
    if (line.find("UART0 to") != std::string::npos) rates.push_back(line);
  }
  EXPECT_EQ(rates, std::vector<std::string>{"avrboard: the firmware set UART0 to 9615 baud"});
}

// A bridge's wait is avrboard's model of it, and both the ready line and the
// last line say so; the reply still comes, only later.
TEST_P(AvrImageTest, ABridgeIsSaidToBeAModelFromStartToEnd) {
  const struct {
    const char* bridge;
    const char* ready;  // in the ready line
    const char* last;   // in the line after the run's
  } cases[] = {
      {"16u2", "ATmega16U2 bridge (a model of its published behaviour, not a measurement",
       "the ATmega16U2 bridge model (its published behaviour, not a measured chip) sent "},
      {"ftdi:2", "2 ms latency timer", "the FTDI bridge model (its published behaviour"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bridge);
    const std::string link = dir_ + "/tty";
    harness::ChildProcess board =
        StartBoard(GetParam().Image("elf"), GetParam().mcu, link, {"--bridge", c.bridge});
    EXPECT_EQ(AskA0(link), "512");
    EXPECT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
    const std::string said = board.stderr_text();
    const size_t ready = said.find("avrboard: ready");
    ASSERT_NE(ready, std::string::npos) << said;
    EXPECT_NE(said.find(c.ready, ready), std::string::npos) << said;
    const size_t stopped = said.find("avrboard: stopped");
    ASSERT_NE(stopped, std::string::npos) << said;
    EXPECT_NE(said.find(c.last, stopped), std::string::npos) << said;
    EXPECT_EQ(said.find(" sent 0 packets"), std::string::npos) << "the reply passed no packet";
  }
}

TEST_P(AvrImageTest, VerboseShowsWhatSimavrSays) {
  harness::ChildProcess board =
      StartBoard(GetParam().Image("elf"), GetParam().mcu, dir_ + "/tty", {"--verbose"});
  EXPECT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
  EXPECT_NE(board.stderr_text().find("Loaded"), std::string::npos) << board.stderr_text();
}

INSTANTIATE_TEST_SUITE_P(Boards, AvrImageTest, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<Board>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
