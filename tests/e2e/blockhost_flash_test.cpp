// `blockhost flash` with the real avrdude against avrboard running the Uno's
// bootloader on a pseudo-terminal: the image the project needs goes on the
// chip and the check that follows meets the sketch; a board named as the
// other kind does not answer its bootloader protocol.  And the failures that need no board:
// no avrdude, no image, no board named, options that contradict.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "boot_section.h"
#include "e2e_harness.h"
#include "pty_pair.h"
#include "unlocked_port_user.h"

namespace e2e {
namespace {

constexpr int kComPort = 42;

// Why avrboard cannot boot the Uno from its bootloader here, or "".
std::string WhyNoUnoBootloader() {
  return avrboard::WhyNoBootloader(*avrboard::BootSectionOf("atmega328p"),
                                   std::filesystem::path(AVRBOARD_PATH).parent_path());
}

class FlashTest : public ::testing::Test {
 protected:
  RunResult Blockhost(std::vector<std::string> args, const std::string& device) {
    args.insert(args.begin(), BLOCKHOST_PATH);
    return RunProgram(args, {"ARDUINO_BLOCK_COM" + std::to_string(kComPort) + "=" + device},
                      std::chrono::milliseconds(240'000));
  }
  RunResult Flash(std::vector<std::string> args, const std::string& device) {
    args.insert(args.begin(), {"flash", "--comport", std::to_string(kComPort)});
    return Blockhost(args, device);
  }

  TempDir dir_;
};

// One board for the whole story, as a user meets it: the wrong board named
// first, then the right one.
TEST_F(FlashTest, WritesTheProjectsImageThenTheBoardAnswersTheCheck) {
  const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH);
  if (!why.empty()) GTEST_SKIP() << why;
  if (std::string(AVRDUDE_PATH).empty()) GTEST_SKIP() << "no avrdude";
  if (const std::string no_bootloader = WhyNoUnoBootloader(); !no_bootloader.empty()) {
    GTEST_SKIP() << no_bootloader;
  }
  const std::string image = std::string(FIRMWARE_DIR) + "/uno/arduino_block-115200.hex";
  if (access(image.c_str(), R_OK) != 0) GTEST_SKIP() << "no image at " << image;

  const std::string link = dir_.File("tty");
  const std::string project = dir_.File("usb.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=usb",
                       "comport=" + std::to_string(kComPort), "baud=115200"},
                      link)
                .exit_code,
            0);
  // An empty chip behind the bootloader: only what avrdude writes runs.
  ChildProcess board = harness::StartAvrboard(
      AVRBOARD_PATH, {"--mcu", "atmega328p", "--bootloader", "--flash", dir_.File("flash.bin"),
                      "--pty", link, "--adc", "A0=512"});
  const std::vector<std::string> firmware = {"--firmware-dir", FIRMWARE_DIR, "--avrdude",
                                             AVRDUDE_PATH,     "--project",  project};

  std::vector<std::string> mega = firmware;
  mega.insert(mega.end(), {"--board", "mega2560"});
  const std::string mega_image = std::string(FIRMWARE_DIR) + "/mega2560/arduino_block-115200.hex";
  if (access(mega_image.c_str(), R_OK) == 0) {
    RunResult wrong = Flash(mega, link);
    // The Mega's bootloader protocol gets no answer from the Uno's, so
    // avrdude never reads a signature: the board simply does not answer.
    EXPECT_EQ(wrong.exit_code, 15) << wrong.out << wrong.err << board.stderr_text();
    EXPECT_TRUE(Contains(wrong.err, "the Arduino Mega 2560's bootloader did not answer on COM42"))
        << wrong.err;
    EXPECT_TRUE(Contains(wrong.err,
                         "is it an Arduino Uno? Its bootloader speaks another "
                         "protocol: --board uno\n"))
        << wrong.err;
    EXPECT_FALSE(Contains(wrong.out, "checking the board")) << wrong.out;
  }

  std::vector<std::string> uno = firmware;
  uno.insert(uno.end(), {"--board", "uno"});
  RunResult run = Flash(uno, link);
  // A board that fell behind the wall clock (a busy machine) answers the
  // check late: a failure says how far it fell behind.
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err << board.stderr_text()
                              << harness::AskAvrboardsPace(board);
  EXPECT_TRUE(Contains(run.out, "flashing " + image + " to the Arduino Uno on COM42 (" + link +
                                    ") with " + AVRDUDE_PATH + "\n"))
      << run.out;
  // avrdude's own progress passes through as it runs.
  EXPECT_TRUE(Contains(run.err, "bytes of flash verified")) << run.err;
  EXPECT_TRUE(Contains(run.out, "link: COM42 (" + link + ") at 115200 baud\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "board answered 512")) << run.out;
}

// The Ethernet image through the bootloader, on avrboard with its W5100
// model: the board's console answers the address question on the same
// port, and the check then meets the board over UDP on loopback, where the
// simulation answers whatever address the board holds.  A host name in the
// project is not the board's to take, so the board keeps its address.
TEST_F(FlashTest, TheEthernetImageIsWrittenThenMetOverUdp) {
  const std::string why = harness::WhyNoAvrboard(AVRBOARD_PATH);
  if (!why.empty()) GTEST_SKIP() << why;
  if (std::string(AVRDUDE_PATH).empty()) GTEST_SKIP() << "no avrdude";
  if (const std::string no_bootloader = WhyNoUnoBootloader(); !no_bootloader.empty()) {
    GTEST_SKIP() << no_bootloader;
  }
  const std::string image = std::string(FIRMWARE_DIR) + "/uno/arduino_block-ethernet.hex";
  if (access(image.c_str(), R_OK) != 0) GTEST_SKIP() << "no image at " << image;
  RunResult help = RunProgram({AVRBOARD_PATH, "--help"});
  if (!Contains(help.out + help.err, "--ethernet")) GTEST_SKIP() << "avrboard has no W5100 model";

  const std::string link = dir_.File("tty");
  ChildProcess board = harness::StartAvrboard(
      AVRBOARD_PATH, {"--mcu", "atmega328p", "--bootloader", "--flash", dir_.File("flash.bin"),
                      "--pty", link, "--ethernet", "127.0.0.1:0", "--eeprom", dir_.File("ee.bin")});
  const std::string ready = board.stderr_text();
  const size_t at = ready.find("ethernet on udp 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << ready;
  const std::string port = std::to_string(std::stoi(ready.substr(at + 26)));
  const std::string project = dir_.File("eth.project");
  ASSERT_EQ(Blockhost({"set", "--project", project, "interface=ethernet", "address=localhost",
                       "udpport=" + port},
                      link)
                .exit_code,
            0);
  RunResult run = Flash({"--board", "uno", "--firmware-dir", FIRMWARE_DIR, "--avrdude",
                         AVRDUDE_PATH, "--project", project},
                        link);
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err << board.stderr_text();
  EXPECT_TRUE(Contains(run.out, "flashing " + image + " to the Arduino Uno")) << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "note: localhost is no dotted address; the board keeps the one "
                       "it has\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "board: address 192.168.0.121\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "link: localhost, UDP port " + port + "\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "board answered")) << run.out;
}

// Failures found before avrdude touches the port: a plain file stands for
// the device, since nothing opens it.
TEST_F(FlashTest, FailuresBeforeTheBoardIsTouchedSayWhatWasMissing) {
  const std::string device = dir_.File("device");
  WriteFile(device, "");
  const std::string empty = dir_.File("empty");
  std::filesystem::create_directory(empty);
  const std::string fake_firmware = dir_.File("firmware");
  std::filesystem::create_directories(fake_firmware + "/uno");
  WriteFile(fake_firmware + "/uno/arduino_block-9600.hex", ":00000001FF\n");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> said;  // on stderr
  };
  const Case cases[] = {
      {"no avrdude at the path given",
       {"--board", "uno", "--firmware-dir", fake_firmware, "--avrdude", "/nonexistent/avrdude"},
       13,
       {"no avrdude at the path --avrdude gives; looked at\n  /nonexistent/avrdude\n",
        "apt install avrdude", "install the Arduino IDE"}},
      {"an empty firmware folder",
       {"--board", "uno", "--firmware-dir", empty},
       12,
       {"no image arduino_block-9600.hex for the Arduino Uno; looked at\n  " + empty +
            "/uno/arduino_block-9600.hex\n",
        "no image for this board there at all"}},
      {"a speed that has no image, where others have",
       {"--board", "uno", "--firmware-dir", fake_firmware, "--baud", "38400"},
       12,
       {"no image arduino_block-38400.hex", "images there for this board: arduino_block-9600.hex"}},
      {"the Ethernet image missing",
       {"--board", "uno", "--firmware-dir", fake_firmware, "--ethernet"},
       12,
       {"no image arduino_block-ethernet.hex"}},
      {"a port whose board cannot be told",
       {"--firmware-dir", fake_firmware},
       1,
       {"cannot tell which board is on COM42",
        "--board uno, mega2560, nano or nano-old (nano-old: a Nano with the old bootloader"}},
      {"an unknown board",
       {"--board", "leonardo"},
       1,
       {"--board: 'leonardo': uno, mega2560, nano or nano-old"}},
      {"a Nano, whose images are the Uno's",
       {"--board", "nano-old", "--firmware-dir", empty},
       12,
       {"no image arduino_block-9600.hex for the Arduino Nano (old bootloader); looked at\n  " +
        empty + "/uno/arduino_block-9600.hex\n"}},
      {"a speed no image runs at", {"--board", "uno", "--baud", "57600"}, 1, {"--baud"}},
      {"a project and a speed",
       {"--board", "uno", "--project", dir_.File("p.project"), "--baud", "9600"},
       1,
       {"--project picks the image"}},
      {"an address without --ethernet",
       {"--board", "uno", "--address", "10.0.0.50"},
       1,
       {"--address goes with --ethernet"}},
  };
  for (const Case& c : cases) {
    RunResult run = Flash(c.args, device);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what << ": " << run.out << run.err;
    for (const std::string& said : c.said) {
      EXPECT_TRUE(Contains(run.err, said)) << c.what << ": " << run.err;
    }
    EXPECT_FALSE(Contains(run.out, "flashing ")) << c.what << ": " << run.out;
  }
  RunResult no_port = RunProgram({BLOCKHOST_PATH, "flash", "--board", "uno"});
  EXPECT_EQ(no_port.exit_code, 1) << no_port.err;
  EXPECT_TRUE(Contains(no_port.err, "--comport")) << no_port.err;
}

// A bootloader that never answers: avrdude gives up out of sync, and flash
// names the board it most likely is, which a Nano's owner most often needs
// (the old bootloader listens at half the speed).  An avrdude that says
// what the real one says there stands in, as the real one takes a minute
// to give up.
TEST_F(FlashTest, ABootloaderThatDoesNotAnswerNamesTheLikelyOtherBoard) {
  const std::string device = dir_.File("device");
  WriteFile(device, "");
  const std::string firmware = dir_.File("firmware");
  for (const char* folder : {"uno", "mega2560"}) {
    std::filesystem::create_directories(firmware + "/" + folder);
    WriteFile(firmware + "/" + folder + "/arduino_block-9600.hex", ":00000001FF\n");
  }
  const std::string avrdude = dir_.File("avrdude");
  WriteFile(avrdude,
            "#!/bin/sh\n"
            "echo 'avrdude warning: attempt 10 of 10: not in sync: resp=0x00' >&2\n"
            "echo 'avrdude error: unable to open programmer arduino on port x' >&2\n"
            "exit 1\n");
  std::filesystem::permissions(avrdude, std::filesystem::perms::owner_all);
  const struct {
    const char* board;
    const char* said;
  } kCases[] = {
      {"nano",
       "is it an Arduino Nano (old bootloader)? Its bootloader listens at 57600 baud: "
       "--board nano-old\n"},
      {"nano-old", "is it an Arduino Nano? Its bootloader listens at 115200 baud: --board nano\n"},
      {"uno",
       "is it an Arduino Mega 2560? Its bootloader speaks another protocol: "
       "--board mega2560\n"},
      {"mega2560", "is it an Arduino Uno? Its bootloader speaks another protocol: --board uno\n"},
  };
  for (const auto& c : kCases) {
    RunResult run =
        Flash({"--board", c.board, "--firmware-dir", firmware, "--avrdude", avrdude}, device);
    EXPECT_EQ(run.exit_code, 15) << c.board << ": " << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, c.said)) << c.board << ": " << run.err;
    EXPECT_TRUE(Contains(run.err, "did not answer on COM42 (" + device +
                                      "): avrdude error: unable to open programmer arduino"))
        << "avrdude's last error is quoted: " << run.err;
  }
}

// The board flashed is the one asked for; a project that names another port
// is told so, before anything is written, and one on that port is not.
TEST_F(FlashTest, AProjectOnAnotherPortIsToldBeforeFlashing) {
  const std::string empty = dir_.File("empty");
  std::filesystem::create_directories(empty);
  const std::string note = "note: the project's link is COM3; this flashes and checks COM42";
  for (const int project_port : {3, kComPort}) {
    SCOPED_TRACE(project_port);
    const std::string project = dir_.File("p" + std::to_string(project_port) + ".project");
    ASSERT_EQ(Blockhost({"set", "--project", project, "interface=usb",
                         "comport=" + std::to_string(project_port)},
                        dir_.File("tty"))
                  .exit_code,
              0);
    RunResult run =
        Flash({"--board", "uno", "--firmware-dir", empty, "--project", project}, dir_.File("tty"));
    EXPECT_EQ(run.exit_code, 12) << run.out << run.err;
    EXPECT_EQ(Contains(run.out, note), project_port == 3) << run.out;
    if (project_port == 3) {
      EXPECT_TRUE(Contains(run.out, "`blockhost set --project " + project + " comport=42`"))
          << run.out;
    }
  }
}

// A serial monitor left open would take some of the bootloader's replies:
// flash names it and leaves the port alone, before it looks for avrdude.
TEST_F(FlashTest, APortAnotherProgramHoldsIsNamedAndNotFlashed) {
  harness::PtyPair board(kComPort);
  harness::UnlockedPortUser cat(board.slave_path());
  const std::string firmware = dir_.File("firmware");
  std::filesystem::create_directories(firmware + "/uno");
  WriteFile(firmware + "/uno/arduino_block-9600.hex", ":00000001FF\n");
  RunResult run = Flash({"--board", "uno", "--firmware-dir", firmware, "--avrdude", "/nonexistent"},
                        board.slave_path());
  EXPECT_EQ(run.exit_code, 5) << run.out << run.err;
  EXPECT_TRUE(Contains(run.err, "COM42 (" + board.slave_path() + ") is held by cat (pid " +
                                    std::to_string(cat.pid()) + ")"))
      << run.err;
  EXPECT_FALSE(Contains(run.err, "avrdude")) << run.err;
  EXPECT_EQ(board.ReadAvailable(), "") << "nothing may reach the board";
}

}  // namespace
}  // namespace e2e
