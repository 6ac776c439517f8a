// avrboard with the Ethernet image of the firmware, once per board: the
// sketch finds the W5100 through the real Ethernet library, takes its
// address, and answers a UDP peer on 127.0.0.1 through avrboard's loopback
// bridge.  Skips when avrboard or the image was not built.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "exchange_log.h"
#include "files.h"
#include "serial_client.h"
#include "udp_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Board {
  const char* name;
  const char* mcu;
  const char* image;  // under build/firmware, without its extension
  size_t eeprom_size;
  std::string Image() const { return std::string(FIRMWARE_DIR) + "/" + image + ".elf"; }
};
const Board kBoards[] = {{"Uno", "atmega328p", "uno/arduino_block-ethernet", 1024},
                         {"Mega2560", "atmega2560", "mega2560/arduino_block-ethernet", 4096}};

// Loading, the library's 560 ms wait for the shield's reset chip and the
// probes take about a second of simulated time; shared machines need more.
constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr const char* kAddressLine = "avrboard: the W5100 was given address ";

using harness::ReadFile;
using Asked = std::vector<std::pair<std::string, std::string>>;

// The log at `path` holds whole lines only, one for each command `asked`
// over `link`, in order, each turned round in more than `least_us` and
// less than `most_us`.
void ExpectExchangeLog(const std::string& path, const char* link, const Asked& asked,
                       double least_us, double most_us) {
  const std::string log = ReadFile(path);
  EXPECT_TRUE(log.ends_with('\n')) << log;
  std::istringstream lines(log);
  size_t index = 0;
  for (std::string line; std::getline(lines, line); ++index) {
    SCOPED_TRACE(line);
    ASSERT_LT(index, asked.size());
    const std::optional<avrboard::Exchange> exchange = avrboard::ParseExchange(line);
    ASSERT_TRUE(exchange);
    EXPECT_EQ(exchange->link, link);
    EXPECT_EQ(exchange->command, asked[index].first);
    EXPECT_EQ(exchange->reply, asked[index].second);
    EXPECT_GT(exchange->turnaround_us(), least_us);
    EXPECT_LT(exchange->turnaround_us(), most_us);
  }
  EXPECT_EQ(index, asked.size()) << log;
}

class AvrEthernetTest : public ::testing::TestWithParam<Board> {
 protected:
  void SetUp() override {
    if (const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) {
      GTEST_SKIP() << why;
    }
    if (access(GetParam().Image().c_str(), R_OK) != 0) {
      GTEST_SKIP() << "no Ethernet firmware image at " << GetParam().Image()
                   << "; build the Ethernet images with firmware/build.sh first";
    }
    dir_ = scratch_.emplace().path();
  }
  void TearDown() override {
    // The board goes before its folder.
    board_.reset();
    scratch_.reset();
  }

  std::vector<std::string> Args(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {"--mcu",      GetParam().mcu, "--firmware", GetParam().Image(),
                                     "--ethernet", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  // The same as a command line for a run to the end.
  std::vector<std::string> Command(const std::vector<std::string>& extra) const {
    std::vector<std::string> command = {AVRBOARD_PATH};
    for (std::string& arg : Args(extra)) command.push_back(std::move(arg));
    return command;
  }

  // Starts avrboard and waits until the firmware has configured the chip.
  void Start(const std::vector<std::string>& extra) {
    std::string why;
    std::optional<harness::ChildProcess> started =
        harness::TryStartAvrboard(AVRBOARD_PATH, Args(extra), &why, kStartLimit);
    ASSERT_TRUE(started) << why;
    board_.emplace(std::move(*started));
    ASSERT_NE(board_->ready_line().find(", ethernet on udp 127.0.0.1:"), std::string::npos)
        << board_->ready_line();
    port_ = board_->udp_port();
    const auto deadline = Clock::now() + kStartLimit;
    while (board_->stderr_text().find(kAddressLine) == std::string::npos &&
           Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(board_->stderr_text().find(kAddressLine), std::string::npos) << board_->stderr_text();
  }

  std::optional<harness::TempDir> scratch_;
  std::string dir_;
  std::optional<harness::ChildProcess> board_;
  uint16_t port_ = 0;
};

TEST_P(AvrEthernetTest, FirmwareAnswersALoopbackPeer) {
  const std::string exchanges = dir_ + "/exchanges.log";
  ASSERT_NO_FATAL_FAILURE(Start({"--pin", "7=high", "--adc", "A0=512", "--exchanges", exchanges}));
  harness::UdpPeer peer;
  const Asked asked = {
      {"?14s?", "512"}, {"!03mo", "OK"}, {"?07s?", "HIGH"}, {"!22s1", "ERR bad pin"}};
  for (const auto& [command, reply] : asked) {
    EXPECT_EQ(peer.Ask(port_, command), std::optional<std::string>(reply)) << command;
  }
  EXPECT_EQ(board_->Stop(SIGTERM), 0) << board_->stderr_text();
  // Each turnaround a plausible time for an Uno or a Mega with a W5100 at
  // SPI speed, under a millisecond: simulated time, so the machine's load
  // does not enter.  5 ms leaves room for a busier sketch; SPI bytes at
  // simavr's own 100 us each would take 15 ms.
  ExpectExchangeLog(exchanges, "udp", asked, 10.0, 5'000.0);
}

TEST_P(AvrEthernetTest, DatagramsTooLargeForTheChipAreDroppedAndTheBoardGoesOn) {
  ASSERT_NO_FATAL_FAILURE(Start({"--adc", "A0=512"}));
  harness::UdpPeer peer;
  // More than one frame carries never arrives; one frame's worth is a
  // command of the wrong length.
  EXPECT_EQ(peer.Ask(port_, std::string(3000, 'x'), std::chrono::milliseconds(500)), std::nullopt);
  EXPECT_EQ(peer.Ask(port_, std::string(1472, 'x')), std::optional<std::string>("ERR bad length"));
  EXPECT_EQ(peer.Ask(port_, "?14s?"), std::optional<std::string>("512"));
  EXPECT_EQ(board_->Stop(SIGTERM), 0) << board_->stderr_text();
}

TEST_P(AvrEthernetTest, AddressLineNamesWhatTheFirmwareConfigured) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  const std::regex form(
      "avrboard: the W5100 was given address [0-9]+(\\.[0-9]+){3}, mask [0-9]+(\\.[0-9]+){3}, "
      "gateway [0-9]+(\\.[0-9]+){3}, MAC [0-9A-F]{2}(:[0-9A-F]{2}){5}\n");
  EXPECT_TRUE(std::regex_search(board_->stderr_text(), form)) << board_->stderr_text();
}

TEST_P(AvrEthernetTest, EepromFileSurvivesTheRun) {
  const std::string eeprom = dir_ + "/eeprom.bin";
  std::string contents(GetParam().eeprom_size, '\0');
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 13 + 5);
  std::ofstream(eeprom, std::ios::binary) << contents;
  ASSERT_NO_FATAL_FAILURE(Start({"--eeprom", eeprom}));
  EXPECT_EQ(board_->Stop(SIGTERM), 0) << board_->stderr_text();
  EXPECT_EQ(ReadFile(eeprom), contents);
}

TEST_P(AvrEthernetTest, EepromFileOfAnotherSizeIsRefused) {
  const std::string eeprom = dir_ + "/eeprom.bin";
  std::ofstream(eeprom, std::ios::binary) << std::string(100, 'x');
  const harness::RunResult result = harness::RunProgram(Command({"--eeprom", eeprom}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("holds 100 bytes"), std::string::npos) << result.err;
  EXPECT_EQ(ReadFile(eeprom), std::string(100, 'x'));
}

TEST_P(AvrEthernetTest, OnlyLoopbackIsAcceptedForTheWire) {
  for (const char* endpoint : {"192.168.0.121:1600", "0.0.0.0:1600"}) {
    const harness::RunResult result = harness::RunProgram(
        {AVRBOARD_PATH, "--firmware", GetParam().Image(), "--ethernet", endpoint});
    EXPECT_EQ(result.exit_code, 2) << endpoint;
    EXPECT_NE(result.err.find("expected 127.0.0.1:PORT"), std::string::npos) << result.err;
  }
}

// The serial image's exchanges in the log: from the firmware's read of the
// command's last byte to its first byte of the reply.
TEST(AvrSerialExchangesTest, EachCommandAndReplyIsOneLine) {
  const std::string image = std::string(FIRMWARE_DIR) + "/uno/arduino_block-9600.elf";
  if (const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) {
    GTEST_SKIP() << why;
  }
  if (access(image.c_str(), R_OK) != 0) {
    GTEST_SKIP() << "no firmware image at " << image << "; run firmware/build.sh first";
  }
  const harness::TempDir scratch;
  const std::string& dir = scratch.path();
  harness::ChildProcess board =
      harness::StartAvrboard(AVRBOARD_PATH,
                             {"--firmware", image, "--pty", dir + "/tty", "--adc", "A0=512",
                              "--exchanges", dir + "/exchanges.log"},
                             kStartLimit);
  {
    harness::SerialClient line(dir + "/tty");
    ASSERT_TRUE(line.valid());
    // Bytes that come before the firmware has enabled its receiver are lost,
    // as on a board that is still starting.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const char* command : {"?14s?", "!03mo"}) {
      line.Write(command);
      EXPECT_NE(line.ReadUntil("\n", std::chrono::seconds(3)).find('\n'), std::string::npos)
          << command;
    }
  }
  EXPECT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
  // Far less than a byte at 9600 baud: the reply is computed, not waited for.
  ExpectExchangeLog(dir + "/exchanges.log", "serial", {{"?14s?", "512"}, {"!03mo", "OK"}}, 1.0,
                    1'000.0);
}

// What the firmware writes to its EEPROM reaches the file, and the next run
// starts from it: a program of a few lines, built here, counts its starts in
// EEPROM byte 5.
TEST(AvrEepromTest, FirmwareWritesReachTheFileAndTheNextRun) {
  if (const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const harness::TempDir scratch;
  const std::string& dir = scratch.path();
  std::ofstream(dir + "/count.c") << "#include <avr/eeprom.h>\n"
                                     "int main(void) {\n"
                                     "  uint8_t *count = (uint8_t *)5;\n"
                                     "  eeprom_write_byte(count, eeprom_read_byte(count) + 1);\n"
                                     "  for (;;) {}\n"
                                     "}\n";
  const std::string elf = dir + "/count.elf";
  harness::RunResult built;
  if (std::string(AVR_GCC_PATH).empty()) {
    built.err = "avr-gcc not found (apt-get install gcc-avr avr-libc)";
  } else {
    built =
        harness::RunProgram({AVR_GCC_PATH, "-mmcu=atmega328p", "-Os", dir + "/count.c", "-o", elf});
  }
  if (built.exit_code != 0) {
    GTEST_SKIP() << "cannot build the counting program: " << built.err;
  }
  const std::string eeprom = dir + "/eeprom.bin";
  for (int run = 1; run <= 2; ++run) {
    harness::ChildProcess board = harness::StartAvrboard(
        AVRBOARD_PATH, {"--firmware", elf, "--ethernet", "127.0.0.1:0", "--eeprom", eeprom},
        kStartLimit);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(board.Stop(SIGTERM), 0) << board.stderr_text();
    const std::string saved = ReadFile(eeprom);
    ASSERT_EQ(saved.size(), 1024u) << "run " << run;
    // Blank is 0xFF, so the first start writes 0x00.
    EXPECT_EQ(static_cast<uint8_t>(saved[5]), run - 1) << "run " << run;
    EXPECT_EQ(static_cast<uint8_t>(saved[4]), 0xFF) << "run " << run;
  }
}

INSTANTIATE_TEST_SUITE_P(Boards, AvrEthernetTest, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<Board>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
