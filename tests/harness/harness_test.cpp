// The harness itself: a child that fails to start says why, every child is
// gone when its object is, a UDP peer that cannot bind says where and one
// that is connected hears its board alone, and the
// serial client's one-byte calls see every byte and a hang-up; and the host
// model under it hands the block the bytes a host would.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "block_record.h"
#include "child_process.h"
#include "loaded_block.h"
#include "pty_pair.h"
#include "serial_client.h"
#include "udp_peer.h"
#include "value_array.h"

namespace harness {
namespace {

bool Alive(pid_t pid) { return kill(pid, 0) == 0; }

// A shell child that sets its signal traps, prints its pid on stderr (its
// first line, so a signal sent once it is ready meets the traps), then runs
// `script`.
std::vector<std::string> Shell(const std::string& script, const std::string& traps = ":") {
  return {"/bin/sh", "-c", traps + "; echo pid $$ >&2; " + script};
}

pid_t PidOf(ChildProcess& child) {
  const std::string& text = child.stderr_text();
  return static_cast<pid_t>(std::stol(text.substr(text.find("pid ") + 4)));
}

TEST(ChildProcessTest, ReadyLineIsTheFirstLineWithTheTextAndNamesThePort) {
  StartOptions options;
  options.ready_text = "listening";
  ChildProcess child = ChildProcess::Start(
      Shell("echo warming up >&2; echo listening on udp 127.0.0.1:4321 >&2; sleep 30"), options);
  EXPECT_EQ(child.ready_line(), "listening on udp 127.0.0.1:4321");
  EXPECT_EQ(child.udp_port(), 4321);
  EXPECT_NE(child.stderr_text().find("warming up\n"), std::string::npos);
}

TEST(ChildProcessTest, ReadyLineWithoutAPortThrowsWhenAskedForOne) {
  ChildProcess child = ChildProcess::Start(Shell("sleep 30"));
  EXPECT_THROW(child.udp_port(), std::runtime_error);
}

TEST(ChildProcessTest, ChildThatExitsFirstSaysWhatItPrintedAndItsStatus) {
  std::string why;
  StartOptions options;
  options.ready_text = "ready";
  EXPECT_FALSE(ChildProcess::TryStart(Shell("echo cannot bind >&2; exit 3"), &why, options));
  EXPECT_NE(why.find("cannot bind"), std::string::npos) << why;
  EXPECT_NE(why.find("status 3"), std::string::npos) << why;
}

TEST(ChildProcessTest, SilentChildCostsTheTimeOutAndIsKilled) {
  std::string why;
  StartOptions options;
  options.ready_text = "ready";
  options.timeout = std::chrono::milliseconds(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ChildProcess::TryStart(Shell("sleep 30"), &why, options));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_NE(why.find("no ready line within 300 ms"), std::string::npos) << why;
}

TEST(ChildProcessTest, ProgramThatCannotBeStartedIsNamed) {
  try {
    ChildProcess::Start({"/nonexistent/boardsim"});
    FAIL() << "started a program that does not exist";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/boardsim"), std::string::npos);
  }
}

TEST(ChildProcessTest, ChildIsGoneWhenATestThrows) {
  pid_t pid = -1;
  try {
    ChildProcess child = ChildProcess::Start(Shell("sleep 30"));
    pid = PidOf(child);
    ASSERT_TRUE(Alive(pid));
    throw std::runtime_error("a failing test body");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(Alive(pid)) << "the child outlived its object";
}

TEST(ChildProcessTest, ChildThatIgnoresSigtermIsKilled) {
  pid_t pid = -1;
  {
    ChildProcess child = ChildProcess::Start(Shell("while :; do sleep 1; done", "trap '' TERM"));
    pid = PidOf(child);
  }
  EXPECT_FALSE(Alive(pid));
}

TEST(ChildProcessTest, StopReportsTheExitStatus) {
  ChildProcess child = ChildProcess::Start(
      Shell("while :; do sleep 0.05; done", "trap 'echo bye >&2; exit 7' TERM"));
  EXPECT_EQ(child.Stop(SIGTERM), 7);
  EXPECT_NE(child.stderr_text().find("bye"), std::string::npos) << "the last words were read";
}

TEST(RunProgramTest, CapturesBothStreamsTheStatusAndTheAddedEnvironment) {
  const RunResult result = RunProgram(
      {"/bin/sh", "-c", "echo out $HARNESS_VALUE; echo err >&2; exit 4"}, {"HARNESS_VALUE=given"});
  EXPECT_EQ(result.exit_code, 4);
  EXPECT_EQ(result.out, "out given\n");
  EXPECT_EQ(result.err, "err\n");
}

TEST(RunProgramTest, ProgramPastTheTimeOutIsKilled) {
  const RunResult result =
      RunProgram({"/bin/sh", "-c", "exec sleep 30"}, {}, std::chrono::milliseconds(200));
  EXPECT_EQ(result.exit_code, -1);
}

TEST(UdpPeerTest, SecondBindOfAPortThrowsNamingTheAddressAndTheError) {
  UdpPeer first;
  try {
    UdpPeer second(kLoopback, first.port());
    FAIL() << "bound a port that is taken";
  } catch (const std::runtime_error& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("127.0.0.1:" + std::to_string(first.port())), std::string::npos)
        << message;
    EXPECT_NE(message.find("errno"), std::string::npos) << message;
  }
}

TEST(UdpPeerTest, AnsweringPeerRepliesToTheSenderAndLogsEveryCommand) {
  AnsweringPeer board([](const std::string& command) -> std::optional<std::string> {
    if (command == "quiet") return std::nullopt;
    return "re " + command;
  });
  UdpPeer host;
  EXPECT_EQ(host.Ask(board.port(), "?02s?"), "re ?02s?");
  EXPECT_FALSE(host.Ask(board.port(), "quiet", std::chrono::milliseconds(200)));
  EXPECT_EQ(host.Ask(board.port(), ""), "re ");
  EXPECT_EQ(board.commands(), (std::vector<std::string>{"?02s?", "quiet", ""}));
}

TEST(UdpPeerTest, ConnectedPeerSendsToItsPortAndHearsOnlyThatPort) {
  AnsweringPeer board([](const std::string& command) { return "re " + command; });
  UdpPeer host;
  host.Connect(board.port());
  host.Send("?02s?");
  EXPECT_EQ(host.Receive(), "re ?02s?");
  UdpPeer stranger;
  stranger.SendTo(host.port(), "not from the board");
  EXPECT_FALSE(host.Receive(std::chrono::milliseconds(200)));
  EXPECT_EQ(board.commands(), (std::vector<std::string>{"?02s?"}));
}

TEST(SerialClientTest, OneByteCallsPassEveryByteAndTellSilenceFromAHangUp) {
  PtyPair board(9);
  SerialClient line(board.slave_path());
  ASSERT_TRUE(line.valid());
  for (char c : std::string("?02s?")) line.WriteByte(c);
  EXPECT_EQ(board.ReadAvailable(), "?02s?");
  board.Write("LOW\r\n");
  std::string reply;
  while (std::optional<char> c = line.ReadByte(std::chrono::milliseconds(200))) reply += *c;
  EXPECT_EQ(reply, "LOW\r\n");
  EXPECT_FALSE(line.ReadByte(std::chrono::milliseconds(10)));
  board.CloseMaster();
  EXPECT_THROW(line.ReadByte(std::chrono::milliseconds(200)), std::runtime_error);
}

// 1.0 and -1.0 in the x87 extended format: the explicit integer bit set,
// the exponent biased by 0x3FFF, the sign in the top bit.
constexpr uint8_t kOne[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
constexpr uint8_t kMinusOne[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF};

TEST(HostModelTest, ValueArrayPacksTenByteValuesWithoutGaps) {
  hostmodel::ValueArray values(3, -1.0L);
  values.Set(1, 1.0L);
  const auto* bytes = static_cast<const uint8_t*>(values.data());
  EXPECT_EQ(std::memcmp(bytes, kMinusOne, 10), 0);
  EXPECT_EQ(std::memcmp(bytes + 10, kOne, 10), 0);
  EXPECT_EQ(std::memcmp(bytes + 20, kMinusOne, 10), 0);
  EXPECT_EQ(values.size(), 3u);
  EXPECT_EQ(values[1], 1.0L);
  EXPECT_EQ(values[2], -1.0L);
}

TEST(HostModelTest, BlockRecordIsTheFillWithTheWindowInAppHandle) {
  hostmodel::BlockRecord record(0xA5, 0x01020304);
  const std::vector<uint8_t>& bytes = record.bytes();
  ASSERT_EQ(bytes.size(), 8192u);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i >= ARDUINO_BLOCK_APPHANDLE_OFFSET && i < ARDUINO_BLOCK_APPHANDLE_OFFSET + 4) continue;
    ASSERT_EQ(bytes[i], 0xA5) << "byte " << i;
  }
  uint32_t app_handle = 0;
  std::memcpy(&app_handle, bytes.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, 4);
  EXPECT_EQ(app_handle, 0x01020304u);
  EXPECT_EQ(record.UserDataSlot(), 0xA5A5A5A5u);
  const uint32_t key = 7;
  std::memcpy(static_cast<uint8_t*>(record.data()) + ARDUINO_BLOCK_USERDATA_OFFSET, &key, 4);
  EXPECT_EQ(record.UserDataSlot(), 7u);
}

TEST(HostModelTest, SettingsLinesFollowTheFieldsInFileOrder) {
  hostmodel::BlockSettings settings;
  settings.interface_kind = arduino::kInterfaceUsb;
  settings.com_port = 7;
  settings.baud_rate = 19200;
  settings.address = "10.0.0.9";
  settings.udp_port = 1601;
  settings.pin_mode = {0, 1, 2, 3, 0, 1, 2, 3};
  settings.analog_used = {1, 0, 1, 0, 1, 0};
  EXPECT_EQ(hostmodel::FormatSettingsLines(settings),
            "1\r\n7\r\n19200\r\n10.0.0.9\r\n1601\r\n"
            "0\r\n1\r\n2\r\n3\r\n0\r\n1\r\n2\r\n3\r\n"
            "1\r\n0\r\n1\r\n0\r\n1\r\n0\r\n");
  EXPECT_TRUE(settings.OverSerial());
}

TEST(HostModelTest, HarnessSettingsNameALoopbackBoardAndTheBlocksPinModes) {
  EXPECT_EQ(BlockSettings().Text(),
            "0\r\n5\r\n115200\r\n127.0.0.1\r\n0\r\n"
            "1\r\n1\r\n1\r\n1\r\n2\r\n2\r\n2\r\n2\r\n"
            "1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n");
  EXPECT_FALSE(BlockSettings().OverSerial());
}

TEST(HostModelTest, OnlyOutputAndPwmModesDriveAPin) {
  const struct {
    int32_t mode;
    bool drives;
  } cases[] = {{arduino::pmUnused, false},
               {arduino::pmDigitalInput, false},
               {arduino::pmDigitalOutput, true},
               {arduino::pmPWMOutput, true},
               {-1, false},
               {4, false}};
  for (const auto& c : cases) EXPECT_EQ(hostmodel::DrivesPin(c.mode), c.drives) << c.mode;
}

}  // namespace
}  // namespace harness
