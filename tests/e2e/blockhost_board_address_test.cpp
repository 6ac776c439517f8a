// `blockhost board-address` against boards on pseudo-terminals: a fake board
// that runs the Ethernet image's own setup console, one that never restarts,
// one that restarts late, the serial image (boardsim), a silent board and
// one with foreign firmware.  And, where avrboard can run the Ethernet image
// with its W5100, against the real image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "e2e_harness.h"
#include "network_settings.h"
#include "setup_console.h"

namespace e2e {
namespace {

constexpr int kComPort = 41;

std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  return trimmed.substr(trimmed.rfind('\n') + 1);
}

RunResult BoardAddress(const std::string& device, std::vector<std::string> args) {
  args.insert(args.begin(), {BLOCKHOST_PATH, "board-address", "--comport", std::to_string(kComPort),
                             "--wait-ms", "1500"});
  return RunProgram(args, {"ARDUINO_BLOCK_COM" + std::to_string(kComPort) + "=" + device});
}

class MemoryStorage : public board::SettingsStorage {
 public:
  uint8_t bytes[64];
  MemoryStorage() {
    for (uint8_t& b : bytes) b = 0xFF;
  }
  uint8_t ReadByte(uint16_t offset) override { return bytes[offset]; }
  void WriteByte(uint16_t offset, uint8_t value) override { bytes[offset] = value; }
};

// A board on the master side of a pseudo-terminal.  It "starts" once the
// other side has put the line in raw mode, as blockhost does on opening, so
// nothing it sends meets the terminal's echo or line editing.
class FakeBoard : public board::ConsoleOutput {
 public:
  enum class Kind {
    kEthernet,     // start line, then the setup console
    kNoRestart,    // the setup console, no start line
    kLateRestart,  // loses the first command, then starts
    kSilent,       // reads and never answers
    kForeign,      // answers every line with "hello"
    kChatty,       // prints a line every 20 ms, whatever it is sent
  };

  explicit FakeBoard(Kind kind)
      : kind_(kind),
        settings_(board::DefaultNetworkSettings()),
        console_(storage_, settings_, *this) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slave_path_ = ptsname(master_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeBoard() {
    stop_ = true;
    thread_.join();
    close(master_);
  }

  const std::string& slave_path() const { return slave_path_; }
  std::string address() const {
    const uint8_t* a = settings_.address;
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
  }
  int lines_received() const { return lines_received_; }

  void Write(const char* text) override { reply_ += text; }
  void WriteFlash(const char* text) override { reply_ += text; }
  void EndLine() override {
    reply_ += "\r\n";
    Send(reply_);
    reply_.clear();
  }

 private:
  void Send(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "the fake board could not write";
    }
  }
  // Only while there is room: nobody may read the ticks once blockhost ends.
  void Chatter() {
    pollfd room{master_, POLLOUT, 0};
    if (poll(&room, 1, 0) == 1 && (room.revents & POLLOUT)) {
      (void)!write(master_, "tick\r\n", 6);
    }
  }
  bool LineIsRaw() const {
    termios settings{};
    return tcgetattr(master_, &settings) == 0 && !(settings.c_lflag & ICANON);
  }
  void Serve() {
    bool started = false;
    std::string line;
    while (!stop_) {
      if (!started) {
        if (!LineIsRaw()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
          continue;
        }
        started = true;
        // An Uno's bootloader and the shield's start-up take their time.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (kind_ == Kind::kEthernet) console_.WriteShowLine();
      }
      if (kind_ == Kind::kChatty) Chatter();
      pollfd watch{master_, POLLIN, 0};
      if (poll(&watch, 1, 20) != 1 || !(watch.revents & POLLIN)) continue;
      char chunk[256];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      for (ssize_t i = 0; i < n; ++i) {
        if (chunk[i] == '\n' && !line.empty()) ++lines_received_;
        line = chunk[i] == '\n' ? "" : line + chunk[i];
        switch (kind_) {
          case Kind::kSilent:
          case Kind::kChatty:
            break;
          case Kind::kForeign:
            if (chunk[i] == '\n' && lines_received_ > 0 && line.empty()) Send("hello\r\n");
            break;
          case Kind::kLateRestart:
            // The first command dies in the restart; the start line follows.
            if (lines_received_ == 1 && chunk[i] == '\n' && !late_started_) {
              late_started_ = true;
              console_.WriteShowLine();
              break;
            }
            if (late_started_) console_.Feed(chunk[i]);
            break;
          default:
            console_.Feed(chunk[i]);
        }
      }
    }
  }

  Kind kind_;
  MemoryStorage storage_;
  board::NetworkSettings settings_;
  board::SetupConsole console_;
  std::string reply_;
  int master_ = -1;
  std::string slave_path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> lines_received_{0};
  bool late_started_ = false;
};

using Kind = FakeBoard::Kind;

// One run of board-address against a fake board: its exit status, what its
// output and its errors hold, and the address the board keeps.
struct FakeBoardRow {
  const char* name;
  Kind kind;
  std::vector<std::string> args{};
  int exit_code = 0;
  std::vector<std::string> out{};  // each in the output
  std::vector<std::string> err{};  // each in the errors
  std::string last_line{};         // in the last line of the output
  std::string address{};           // the board's afterwards; empty: not looked at
  bool advises_set = true;         // whether the output names `blockhost set`
};

class FakeBoardTest : public ::testing::TestWithParam<FakeBoardRow> {};

TEST_P(FakeBoardTest, RunsAsTheRowSays) {
  const FakeBoardRow& row = GetParam();
  FakeBoard board(row.kind);
  RunResult run = BoardAddress(board.slave_path(), row.args);
  EXPECT_EQ(run.exit_code, row.exit_code) << run.out << run.err;
  for (const std::string& part : row.out)
    EXPECT_TRUE(Contains(run.out, part)) << part << "\n" << run.out;
  for (const std::string& part : row.err)
    EXPECT_TRUE(Contains(run.err, part)) << part << "\n" << run.err;
  if (!row.last_line.empty()) {
    EXPECT_TRUE(Contains(LastLine(run.out), row.last_line)) << run.out;
  }
  if (!row.advises_set) {
    EXPECT_FALSE(Contains(run.out, "blockhost set")) << run.out;
  }
  if (!row.address.empty()) {
    EXPECT_EQ(board.address(), row.address);
  }
}

const std::string kAnswer = "blockhost set --project F address=";
const std::vector<std::string> kNewAddress = {"10.0.0.50"};

INSTANTIATE_TEST_SUITE_P(
    Boards, FakeBoardTest,
    ::testing::Values(
        FakeBoardRow{.name = "ShowsTheAddressTheBoardHolds",
                     .kind = Kind::kEthernet,
                     .out = {"waiting up to 1500 ms for the board on COM41 (",
                             "board: arduino-block ethernet 192.168.0.121 port 1600 mac "
                             "DE:AD:BE:EF:16:00\n",
                             "board: address 192.168.0.121\n"},
                     .last_line = kAnswer + "192.168.0.121"},
        FakeBoardRow{.name = "SetsTheAddressAndSaysHowTheBlockMeetsIt",
                     .kind = Kind::kEthernet,
                     .args = kNewAddress,
                     .out = {"board: address 10.0.0.50 saved\n"},
                     .last_line = kAnswer + "10.0.0.50",
                     .address = "10.0.0.50"},
        // The board writes 010.0.0.50 as 10.0.0.50, and the block must use that.
        FakeBoardRow{.name = "TheBlocksAddressIsTheOneTheBoardSaved",
                     .kind = Kind::kEthernet,
                     .args = {"010.000.0.50"},
                     .last_line = "address=10.0.0.50"},
        FakeBoardRow{.name = "AlsoSetsTheMac",
                     .kind = Kind::kEthernet,
                     .args = {"--mac", "DE:AD:BE:EF:16:01", "10.0.0.50"},
                     .out = {"board: mac DE:AD:BE:EF:16:01 saved\n"}},
        FakeBoardRow{.name = "ARefusedAddressIsReportedAndChangesNothing",
                     .kind = Kind::kEthernet,
                     .args = {"300.1.2.3"},
                     .exit_code = 6,
                     .out = {"board: error: "},
                     .err = {"refused 'address 300.1.2.3'"},
                     .address = "192.168.0.121",
                     .advises_set = false},
        FakeBoardRow{.name = "ABoardThatDoesNotRestartIsAskedAnyway",
                     .kind = Kind::kNoRestart,
                     .args = kNewAddress,
                     .address = "10.0.0.50"},
        FakeBoardRow{.name = "ACommandLostInALateRestartIsSentAgain",
                     .kind = Kind::kLateRestart,
                     .args = kNewAddress,
                     .address = "10.0.0.50"},
        FakeBoardRow{.name = "ASilentBoardIsNoAnswer",
                     .kind = Kind::kSilent,
                     .args = kNewAddress,
                     .exit_code = 3,
                     .err = {"no answer from the board on COM41"}},
        FakeBoardRow{.name = "ForeignFirmwareIsNotTheEthernetImage",
                     .kind = Kind::kForeign,
                     .args = kNewAddress,
                     .exit_code = 7,
                     .err = {"answered 'hello'"}},
        // Lines that never stop do not keep blockhost waiting for a start line.
        FakeBoardRow{.name = "AChattyBoardIsNotTheEthernetImage",
                     .kind = Kind::kChatty,
                     .args = kNewAddress,
                     .exit_code = 7,
                     .err = {"answered 'tick'"}}),
    [](const ::testing::TestParamInfo<FakeBoardRow>& param) { return param.param.name; });

TEST(BoardAddressTest, TheSerialImageIsNotTheEthernetImage) {
  TempDir dir;
  const std::string link = dir.File("ttyBOARD");
  std::string why;
  std::optional<ChildProcess> board =
      harness::TryStartBoardsim(BOARDSIM_PATH, {"--pty", link}, &why);
  ASSERT_TRUE(board) << why;
  RunResult run = BoardAddress(link, {"10.0.0.50"});
  EXPECT_EQ(run.exit_code, 7) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "runs the serial image")) << run.err;
}

TEST(BoardAddressTest, APortThatCannotBeOpenedIsSaidSo) {
  TempDir dir;
  WriteFile(dir.File("plain-file"), "");
  for (const auto& [device, said] : {std::pair{"no-such-tty", "cannot open COM41"},
                                     std::pair{"plain-file", "not a serial port"}}) {
    SCOPED_TRACE(device);
    RunResult run = BoardAddress(dir.File(device), {});
    EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, said)) << run.err;
  }

  RunResult no_com = RunProgram({BLOCKHOST_PATH, "board-address", "--comport", "0"});
  EXPECT_EQ(no_com.exit_code, 5) << no_com.out << no_com.err;
}

TEST(BoardAddressTest, ValuesThatWouldBreakTheLineAreUsageErrors) {
  for (const char* bad : {"10.0.0.50 reset", "", "10.0.0.50\nreset"}) {
    RunResult run = RunProgram({BLOCKHOST_PATH, "board-address", "--comport", "3", bad});
    EXPECT_EQ(run.exit_code, 1) << bad << ": " << run.err;
  }
  RunResult no_port = RunProgram({BLOCKHOST_PATH, "board-address", "10.0.0.50"});
  EXPECT_EQ(no_port.exit_code, 1) << no_port.err;
}

// avrboard running `image` (uno/arduino_block-ethernet, say: its path under
// build/firmware without the extension) on a pty at `link`, or nothing and
// *why when it or the image is missing.
std::optional<ChildProcess> StartAvrboard(const std::string& image, const std::string& link,
                                          std::vector<std::string> extra, std::string* why) {
  const std::string elf = std::string(FIRMWARE_DIR) + "/" + image + ".elf";
  if (std::string(AVRBOARD_PATH).empty() || !std::filesystem::exists(AVRBOARD_PATH) ||
      !std::filesystem::exists(elf)) {
    *why = "needs avrboard and " + elf + " (firmware/build.sh)";
    return std::nullopt;
  }
  std::vector<std::string> args = {"--firmware", elf, "--pty", link};
  args.insert(args.end(), extra.begin(), extra.end());
  return harness::StartAvrboard(AVRBOARD_PATH, args);
}

// The real images on the simulated chip, whether or not avrboard models the
// shield: the Ethernet image's console takes the address, the serial image
// is told apart from it.
TEST(BoardAddressTest, TheRealImagesInAvrboard) {
  TempDir dir;
  std::string why;
  {
    std::optional<ChildProcess> board =
        StartAvrboard("uno/arduino_block-ethernet", dir.File("ttyETH"), {}, &why);
    if (!board) GTEST_SKIP() << why;
    RunResult run = BoardAddress(dir.File("ttyETH"), {"--wait-ms", "5000", "10.0.0.50"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "board: address 10.0.0.50 saved\n")) << run.out;
    RunResult refused = BoardAddress(dir.File("ttyETH"), {"--wait-ms", "100", "10.0.0.255"});
    EXPECT_EQ(refused.exit_code, 6) << refused.out << refused.err;
    RunResult shown = BoardAddress(dir.File("ttyETH"), {"--wait-ms", "100"});
    EXPECT_TRUE(Contains(shown.out, "board: address 10.0.0.50\n")) << shown.out << shown.err;
  }
  std::optional<ChildProcess> board =
      StartAvrboard("uno/arduino_block-9600", dir.File("ttySER"), {}, &why);
  if (!board) GTEST_SKIP() << why;
  RunResult run = BoardAddress(dir.File("ttySER"), {"--wait-ms", "500", "10.0.0.50"});
  EXPECT_EQ(run.exit_code, 7) << run.out << run.err;
}

// The real Ethernet image in avrboard with its W5100 model: the address set
// over the simulated USB port reaches the chip at once and is there again
// when the board starts from the same EEPROM.
TEST(BoardAddressTest, TheEthernetImageInAvrboardTakesTheAddress) {
  if (std::string(AVRBOARD_PATH).empty() || !std::filesystem::exists(AVRBOARD_PATH)) {
    GTEST_SKIP() << "needs avrboard";
  }
  RunResult help = RunProgram({AVRBOARD_PATH, "--help"});
  if (!Contains(help.out + help.err, "--ethernet")) {
    GTEST_SKIP() << "this avrboard has no W5100 model (--ethernet)";
  }
  TempDir dir;
  const std::string link = dir.File("ttyAVR");
  const std::vector<std::string> chip = {"--ethernet", "127.0.0.1:0", "--eeprom",
                                         dir.File("eeprom.bin")};
  std::string why;
  {
    std::optional<ChildProcess> board =
        StartAvrboard("uno/arduino_block-ethernet", link, chip, &why);
    if (!board) GTEST_SKIP() << why;
    RunResult run = BoardAddress(link, {"--wait-ms", "5000", "10.0.0.50"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "board: address 10.0.0.50 saved\n")) << run.out;
    EXPECT_TRUE(Contains(board->stderr_text(), "the W5100 was given address 10.0.0.50"))
        << board->stderr_text();
    // In simulation the board is met on loopback at the port of the ready
    // line, whatever address it took, and avrboard says how.
    const std::string ready = board->stderr_text();
    const size_t at = ready.find("ethernet on udp 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << ready;
    const std::string port = std::to_string(std::stoi(ready.substr(at + 26)));
    EXPECT_TRUE(board->WaitForStderr(
        "answers at 127.0.0.1 UDP port " + port +
            ", whatever its address: blockhost check --address 127.0.0.1 --udpport " + port + "\n",
        std::chrono::seconds(10)))
        << board->stderr_text();
    RunResult check =
        RunProgram({BLOCKHOST_PATH, "check", "--address", "127.0.0.1", "--udpport", port});
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    EXPECT_TRUE(Contains(check.out, "board answered")) << check.out;
  }
  std::optional<ChildProcess> board = StartAvrboard("uno/arduino_block-ethernet", link, chip, &why);
  ASSERT_TRUE(board) << why;
  RunResult run = BoardAddress(link, {"--wait-ms", "5000"});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out, "board: arduino-block ethernet 10.0.0.50 ")) << run.out;
}

}  // namespace
}  // namespace e2e
