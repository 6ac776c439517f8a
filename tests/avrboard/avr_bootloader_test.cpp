// avrboard with the boards' bootloaders: the real avrdude writes a shipped
// image through the bootloader and verifies it by reading it back, the
// flash file keeps it for the next run, and after every open of the port
// the bootloader starts the sketch on its own, in less simulated time than
// the block's 2000 ms pause, at each speed the block offers.  Skips when
// avrboard, avrdude or the images are missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "boot_section.h"
#include "child_process.h"
#include "files.h"
#include "firmware_image.h"
#include "serial_client.h"

namespace {

using harness::ReadFile;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The block waits this long after opening the port before its first
// command; the bootloader must have started the sketch by then.
constexpr double kBlockPauseMs = 2000;

struct Board {
  const char* name;
  const char* board;  // avrboard's --board, and blockhost flash's
  const char* mcu;
  const char* folder;      // under build/firmware
  const char* programmer;  // avrdude's -c for the board's bootloader
  int bootloader_baud;     // and its -b
  uint32_t flash_size;
  // Where the bootloader's own time-out puts the hand-over: optiboot's 1 s
  // watchdog after its three LED flashes, the old Nano bootloader's count
  // of a million polls of the UART, and the Mega bootloader's of 20000.
  double shortest_window_ms;
  double longest_window_ms;
  std::string Image(int baud) const {
    return std::string(FIRMWARE_DIR) + "/" + folder + "/arduino_block-" + std::to_string(baud) +
           ".hex";
  }
};
const Board kUno = {"Uno", "uno", "atmega328p", "uno", "arduino", 115200, 32 * 1024, 1200, 1600};
// The Nano with the old bootloader runs the Uno's images.
const Board kNanoOld = {"NanoOld", "nano-old", "atmega328p", "uno", "arduino",
                        57600,     32 * 1024,  1200,         1500};
const Board kMega = {"Mega2560", "mega2560", "atmega2560", "mega2560", "wiring",
                     115200,     256 * 1024, 600,          1100};

// The simulated milliseconds of each "the bootloader started the program
// after N ms" that avrboard said, in order.
std::vector<double> BootWindows(const std::string& text) {
  static const std::string kSaid = "the bootloader started the program after ";
  std::vector<double> windows;
  for (size_t at = text.find(kSaid); at != std::string::npos; at = text.find(kSaid, at + 1)) {
    windows.push_back(std::strtod(text.c_str() + at + kSaid.size(), nullptr));
  }
  return windows;
}

// Why a case cannot run without the program at `path`, or "" when it is
// there.  The test body skips on it: GTEST_SKIP in a helper would end only
// the helper, and the case would go on without the program.
std::string Missing(const std::string& path, const char* what) {
  if (path.empty() || access(path.c_str(), X_OK | R_OK) != 0) {
    return "no " + std::string(what) + " at '" + path + "'";
  }
  return "";
}

std::string MissingBootloader(const Board& board) {
  return avrboard::WhyNoBootloader(*avrboard::BootSectionOfBoard(board.board),
                                   std::filesystem::path(AVRBOARD_PATH).parent_path());
}

class BootloaderTest : public ::testing::Test {
 protected:
  harness::ChildProcess StartBoard(const Board& board, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--board", board.board, "--bootloader", "--pty",
                                     link_,     "--adc",     "A0=512"};
    args.insert(args.end(), extra.begin(), extra.end());
    return harness::StartAvrboard(AVRBOARD_PATH, args, milliseconds(20'000));
  }

  // Waits until avrboard has said the bootloader handed over `count` times
  // in all; false when it has not within 20 s.
  static bool WaitForHandOvers(harness::ChildProcess& avrboard, size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (BootWindows(avrboard.stderr_text()).size() < count) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
  }

  // Opens the port at `baud` as the block does, which resets the board,
  // and sends nothing until the bootloader has handed over and the block's
  // pause is over: bytes that reach the Mega's bootloader keep it from ever
  // starting the sketch.  Then asks for A0 until the sketch answers or 30 s
  // pass; "512" when it did, else what went wrong.
  std::string AskA0(harness::ChildProcess& avrboard, int baud) {
    const size_t before = BootWindows(avrboard.stderr_text()).size();
    harness::SerialClient serial(link_, baud);
    if (!serial.valid()) return "cannot open " + link_;
    const auto opened = Clock::now();
    if (!WaitForHandOvers(avrboard, before + 1)) return "the bootloader never handed over";
    std::this_thread::sleep_until(opened + milliseconds(static_cast<int>(kBlockPauseMs)));
    std::string reply;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      serial.Write("?14s?");
      reply = serial.ReadUntil("\r\n", milliseconds(2000));
      if (reply.size() >= 5 && reply.compare(reply.size() - 5, 5, "512\r\n") == 0) return "512";
    }
    return reply;
  }

  harness::TempDir scratch_;
  const std::string dir_ = scratch_.path();
  const std::string link_ = scratch_.File("tty");
};

class AvrdudeTest : public BootloaderTest, public ::testing::WithParamInterface<Board> {};

TEST_P(AvrdudeTest, WritesAndVerifiesAnImageThatTheFlashFileKeeps) {
  if (const std::string why = Missing(AVRBOARD_PATH, "avrboard"); !why.empty()) GTEST_SKIP() << why;
  if (const std::string why = Missing(AVRDUDE_PATH, "avrdude"); !why.empty()) GTEST_SKIP() << why;
  const Board& board = GetParam();
  if (const std::string why = MissingBootloader(board); !why.empty()) GTEST_SKIP() << why;
  const std::string image = board.Image(9600);
  if (access(image.c_str(), R_OK) != 0) GTEST_SKIP() << "no image at " << image;
  const std::string flash = dir_ + "/flash.bin";
  {
    harness::ChildProcess avrboard = StartBoard(board, {"--flash", flash});
    const auto started = Clock::now();
    // -D as the Arduino core's upload line has it: the Mega's bootloader
    // answers a chip erase with a failure on purpose, and both bootloaders
    // erase each page before they write it.
    const harness::RunResult upload = harness::RunProgram(
        {AVRDUDE_PATH, "-p", board.mcu, "-c", board.programmer, "-b",
         std::to_string(board.bootloader_baud), "-P", link_, "-D", "-U", "flash:w:" + image + ":i"},
        {}, milliseconds(240'000));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ASSERT_EQ(upload.exit_code, 0) << upload.err << avrboard.stderr_text();
    EXPECT_NE(upload.err.find("bytes of flash verified"), std::string::npos) << upload.err;
    std::cout << board.name << ": avrdude wrote and verified the image in " << seconds << " s\n";
    // The bootloader hands over once avrdude leaves it, and the sketch runs.
    EXPECT_EQ(AskA0(avrboard, 9600), "512") << avrboard.stderr_text();
    EXPECT_EQ(avrboard.Stop(SIGTERM), 0) << avrboard.stderr_text();
    // Before, the new board had only its bootloader, and said so, with what
    // writes it a program, rather than naming a firmware.
    const std::string said = avrboard.stderr_text();
    const std::string hint = "`blockhost flash --board " + std::string(board.board) + " ";
    EXPECT_NE(said.find("no program in the flash, only the bootloader, as on a new board: " + hint),
              std::string::npos)
        << said;
    // Optiboot hands a power-on over at once, to the blank flash; the
    // others wait, and avrdude comes first.
    if (std::string(board.board) == "uno") {
      EXPECT_NE(said.find("with no program to start, so nothing will answer on the line: " + hint),
                std::string::npos)
          << said;
    }
    EXPECT_EQ(said.find("avrboard: firmware "), std::string::npos) << said;
  }
  // The file holds the chip's whole flash with the image at its start.
  std::string why;
  const auto program = avrboard::ParseIntelHex(ReadFile(image), board.flash_size, &why);
  ASSERT_TRUE(program) << why;
  const std::string kept = ReadFile(flash);
  ASSERT_EQ(kept.size(), board.flash_size);
  EXPECT_EQ(kept.compare(0, program->size(), std::string(program->begin(), program->end())), 0);

  // A new run with only the bootloader and the file runs the sketch.
  harness::ChildProcess again = StartBoard(board, {"--flash", flash});
  ASSERT_TRUE(WaitForHandOvers(again, 1)) << again.stderr_text();
  EXPECT_EQ(AskA0(again, 9600), "512") << again.stderr_text();
  EXPECT_EQ(again.Stop(SIGTERM), 0) << again.stderr_text();
  EXPECT_EQ(ReadFile(flash), kept);
}

INSTANTIATE_TEST_SUITE_P(Boards, AvrdudeTest, ::testing::Values(kUno, kNanoOld, kMega),
                         [](const ::testing::TestParamInfo<Board>& param) {
                           return std::string(param.param.name);
                         });

struct Speed {
  Board board;
  int baud;
};

class TimeOutTest : public BootloaderTest, public ::testing::WithParamInterface<Speed> {};

TEST_P(TimeOutTest, SketchStartsWithinTheBlocksPauseAfterTheBootloaderTimesOut) {
  if (const std::string why = Missing(AVRBOARD_PATH, "avrboard"); !why.empty()) GTEST_SKIP() << why;
  const Board& board = GetParam().board;
  if (const std::string why = MissingBootloader(board); !why.empty()) GTEST_SKIP() << why;
  const int baud = GetParam().baud;
  const std::string image = board.Image(baud);
  if (access(image.c_str(), R_OK) != 0) GTEST_SKIP() << "no image at " << image;
  harness::ChildProcess avrboard = StartBoard(board, {"--firmware", image});
  // Switched on, the sketch comes up (the Mega through its bootloader), and
  // only then is the port opened.
  ASSERT_TRUE(WaitForHandOvers(avrboard, 1)) << avrboard.stderr_text();
  const size_t before = BootWindows(avrboard.stderr_text()).size();
  EXPECT_EQ(AskA0(avrboard, baud), "512") << avrboard.stderr_text();
  EXPECT_EQ(avrboard.Stop(SIGTERM), 0) << avrboard.stderr_text();
  const std::vector<double> windows = BootWindows(avrboard.stderr_text());
  ASSERT_GT(windows.size(), before) << avrboard.stderr_text();
  const double window = windows[before];
  EXPECT_GE(window, board.shortest_window_ms) << avrboard.stderr_text();
  EXPECT_LE(window, board.longest_window_ms) << avrboard.stderr_text();
  EXPECT_LT(window, kBlockPauseMs);
  std::cout << board.name << " at " << baud << " baud: the bootloader ran " << window << " ms\n";
}

std::vector<Speed> AllSpeeds() {
  std::vector<Speed> speeds;
  for (const Board& board : {kUno, kMega}) {
    for (int baud : {9600, 19200, 38400, 115200}) speeds.push_back({board, baud});
  }
  // The old Nano bootloader's window does not depend on the image's speed.
  speeds.push_back({kNanoOld, 115200});
  return speeds;
}

INSTANTIATE_TEST_SUITE_P(Boards, TimeOutTest, ::testing::ValuesIn(AllSpeeds()),
                         [](const ::testing::TestParamInfo<Speed>& param) {
                           return std::string(param.param.board.name) + "_" +
                                  std::to_string(param.param.baud);
                         });

// --board names the chip too: a --mcu beside it must be the board's, in
// either order, and a board avrboard lacks is refused naming those it has.
TEST_F(BootloaderTest, AnUnknownBoardOrAnotherChipThanTheBoardsIsAUsageError) {
  if (const std::string why = Missing(AVRBOARD_PATH, "avrboard"); !why.empty()) GTEST_SKIP() << why;
  const std::string other_chip = "the nano-old has the atmega328p, not the atmega2560 --mcu names";
  const struct {
    std::vector<std::string> args;
    std::string said;
  } kCases[] = {
      {{"--board", "leonardo"}, "'leonardo': the boards are uno, nano, nano-old or mega2560"},
      {{"--mcu", "atmega2560", "--board", "nano-old"}, other_chip},
      {{"--board", "nano-old", "--mcu", "atmega2560"}, other_chip},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {AVRBOARD_PATH, "--bootloader", "--pty", link_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const harness::RunResult result = harness::RunProgram(args, {}, milliseconds(20'000));
    EXPECT_EQ(result.exit_code, 2) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("avrboard: ready"), std::string::npos) << result.err;
  }
}

// Bad input ends avrboard before the chip runs and leaves the files alone.
TEST_F(BootloaderTest, BadFlashFilesAndBootloadersAreRefusedUntouched) {
  if (const std::string why = Missing(AVRBOARD_PATH, "avrboard"); !why.empty()) GTEST_SKIP() << why;
  const std::string image = kUno.Image(9600);
  const std::string flash = dir_ + "/flash.bin";
  const std::string short_file(100, 'x');
  const std::string whole_file(kUno.flash_size, '\xFF');
  struct Case {
    const char* what;
    std::string contents;  // of the flash file, written first
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {"a flash file of another size",
       short_file,
       {"--flash", flash},
       "holds 100 bytes; this chip's flash is 32768 bytes"},
      {"a flash file with --firmware",
       whole_file,
       {"--flash", flash, "--firmware", image},
       "already holds a program"},
      {"a new flash file with nothing to fill it",
       "",
       {"--flash", dir_ + "/new.bin"},
       "no flash file"},
      {"a missing bootloader",
       whole_file,
       {"--flash", flash, "--bootloader=" + dir_ + "/none.hex"},
       "none.hex"},
  };
  for (const Case& c : cases) {
    std::ofstream(flash, std::ios::binary | std::ios::trunc) << c.contents;
    std::vector<std::string> args = {AVRBOARD_PATH, "--pty", link_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const harness::RunResult result = harness::RunProgram(args, {}, milliseconds(20'000));
    EXPECT_EQ(result.exit_code, 1) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << c.what << ": " << result.err;
    EXPECT_EQ(result.err.find("avrboard: ready"), std::string::npos) << c.what;
    EXPECT_EQ(ReadFile(flash), c.contents) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/new.bin"));
}

}  // namespace
