// The serial link against a pseudo-terminal playing the board.
#include "link/serial.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/ticks.h"
#include "host/library.h"
#include "link/exchange.h"
#include "pty_pair.h"
#include "test_support.h"
#include "tool_api/serial_latency_posix.h"
#include "tool_api/serial_rate_posix.h"
#include "tool_api/serial_speed_posix.h"
#include "unlocked_port_user.h"

namespace arduino {
namespace {

using harness::PtyPair;
using testing::HostBlock;
using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The processor time this thread has used, in milliseconds.
long ThreadCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<long>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.data().InterfaceKind = kInterfaceUsb;
    block_.data().ComPort = 5;
    OpenSerialLink(block_.data());
    ASSERT_EQ(SerialHandleState(), SerialState::kOpen);
  }
  void TearDown() override { CloseSerialLink(); }

  // Sends the command, checks that exactly its bytes reached the board, then
  // lets the board answer with `answer` and waits for the reply.
  std::string Exchange(const std::string& command, const std::string& answer) {
    SendCommand(block_.data(), command);
    EXPECT_EQ(board_.ReadAvailable(), command);
    if (!answer.empty()) board_.Write(answer);
    return ReceiveReply(block_.data());
  }

  testing::SkipOpenPause skip_pause_;
  PtyPair board_{5};
  HostBlock block_;
};

// The one table between baud rates and termios constants, which the port
// and the emulated boards read a line's speed through.
TEST(SerialSpeedTest, TerminalSpeedsAreNamedByTheirRate) {
  EXPECT_EQ(BaudRateOf(B9600), 9600);
  EXPECT_EQ(BaudRateOf(B19200), 19200);
  EXPECT_EQ(BaudRateOf(B38400), 38400);
  EXPECT_EQ(BaudRateOf(B115200), 115200);
  EXPECT_EQ(BaudRateOf(B0), std::nullopt);
  for (const int32_t baud : {300, 9600, 19200, 38400, 57600, 115200, 1000000}) {
    EXPECT_EQ(BaudRateOf(SpeedConstant(baud)), baud) << baud;
  }
  EXPECT_EQ(SpeedConstant(12345), static_cast<speed_t>(B0));
}

TEST(ComDeviceNameTest, NamesBelowTenPlainAndFromTenInTheDeviceNamespace) {
  EXPECT_EQ(ComDeviceName(1), "COM1");
  EXPECT_EQ(ComDeviceName(9), "COM9");
  EXPECT_EQ(ComDeviceName(10), "\\\\.\\COM10");
  EXPECT_EQ(ComDeviceName(100), "\\\\.\\COM100");
  EXPECT_EQ(ComDeviceName(0), "COM0");
  EXPECT_EQ(ComDeviceName(-1), "COM-1");
}

TEST_F(SerialTest, ReplyLinesAreFramedByLineFeedAndLoseControlBytes) {
  EXPECT_EQ(Exchange("?02s?", "LOW\r\n"), "LOW");
  EXPECT_EQ(Exchange("?14s?", "5\t12\n"), "512");
  EXPECT_EQ(Exchange("?15s?", std::string("a\x0e\x7f\xc8z\x01\n")), "a\x0e\x7f\xc8z");
}

TEST_F(SerialTest, BytesAfterTheLineFeedStartTheNextReply) {
  EXPECT_EQ(Exchange("?02s?", "LOW\nx"), "LOW");
  EXPECT_EQ(Exchange("?03s?", "HIGH\r\n"), "xHIGH");
  auto start = Clock::now();
  EXPECT_EQ(Exchange("?04s?", "\nlater\r\n"), "");
  EXPECT_LT(MillisecondsSince(start), 500) << "a leading line feed ends the reply at once";
  EXPECT_EQ(Exchange("?05s?", ""), "later");
}

TEST_F(SerialTest, WithoutLineFeedTheWaitEndsJustAfterItsLimit) {
  auto start = Clock::now();
  EXPECT_EQ(Exchange("?14s?", "512"), "512");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, kSerialReplyWaitMs);
  EXPECT_LT(waited, 1800);
}

TEST_F(SerialTest, SlowSendDoesNotShortenTheWait) {
  SendCommand(block_.data(), "?02s?");
  usleep(300 * 1000);
  auto start = Clock::now();
  EXPECT_EQ(ReceiveReply(block_.data()), "");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, kSerialReplyWaitMs);
  EXPECT_LT(waited, 1800);
}

TEST_F(SerialTest, EmptyCommandWritesNothingAndStillWaits) {
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block_.data(), ""), "");
  EXPECT_GE(MillisecondsSince(start), kSerialReplyWaitMs);
  EXPECT_EQ(board_.ReadAvailable(), "");
}

// Starts the clock 300 ms before the 32-bit wrap and lets it run at real
// speed, so the wait crosses zero.
uint32_t g_wrap_base;
Clock::time_point g_wrap_origin;
uint32_t WrappingTicks() {
  return g_wrap_base + static_cast<uint32_t>(MillisecondsSince(g_wrap_origin));
}

TEST_F(SerialTest, TickWrapDuringAWaitKeepsItsLength) {
  g_wrap_base = 0xFFFFFFFFu - 300;
  g_wrap_origin = Clock::now();
  SetTickSource(WrappingTicks);
  auto start = Clock::now();
  std::string reply = ReceiveReply(block_.data());
  long waited = MillisecondsSince(start);
  SetTickSource(nullptr);
  EXPECT_EQ(reply, "");
  EXPECT_GE(waited, kSerialReplyWaitMs);
  EXPECT_LT(waited, 1800);
}

TEST_F(SerialTest, PortIsConfiguredRaw8N1AtTheBlocksSpeed) {
  // Reopened with another speed: the link must take the block's rate.
  CloseSerialLink();
  block_.data().BaudRate = 19200;
  OpenSerialLink(block_.data());
  int fd = open(board_.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios settings{};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  close(fd);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_FALSE(settings.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP));
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(settings.c_oflag & OPOST);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
}

// The block's rate reaches the line as the number itself, whether or not
// termios has a constant for it; the kernel reports it back through TCGETS2
// either way.  A rate that is no rate at all leaves the speed as it was.
TEST_F(SerialTest, EveryRateReachesTheLineAsTheNumberItself) {
  const struct {
    int32_t block;
    uint32_t line;
  } cases[] = {{250000, 250000}, {74880, 74880}, {14400, 14400}, {28800, 28800}, {9600, 9600},
               {115200, 115200}, {31250, 31250}, {0, 31250},     {-9600, 31250}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.block);
    CloseSerialLink();
    block_.data().BaudRate = c.block;
    OpenSerialLink(block_.data());
    int fd = open(board_.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(LineRate(fd), c.line);
    close(fd);
  }
}

// A driver that answers the two calls as a row says, and remembers what it
// was given.
struct FakeSerialDriver {
  int get_result = 0;
  int set_result = 0;
  serial_struct held{};
  int sets = 0;
};
FakeSerialDriver* g_driver = nullptr;
const SerialInfoCalls kFakeSerialInfo = {
    [](int, serial_struct* info) {
      *info = g_driver->held;
      return g_driver->get_result;
    },
    [](int, const serial_struct* info) {
      ++g_driver->sets;
      if (g_driver->set_result == 0) g_driver->held = *info;
      return g_driver->set_result;
    },
};

// Low latency is asked for once, with every other field as the driver gave
// it; a driver that has it already is left alone, and a refusal is only a
// false.
TEST(SerialLatencyTest, LowLatencyIsAskedForAndNothingElseChanges) {
  const struct {
    const char* what;
    int get_result, set_result, flags_before;
    bool granted;
    int sets, flags_after;
  } cases[] = {
      {"granted", 0, 0, ASYNC_SKIP_TEST, true, 1, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY},
      {"already low", 0, 0, ASYNC_LOW_LATENCY, true, 0, ASYNC_LOW_LATENCY},
      {"no such setting", -1, 0, 0, false, 0, 0},
      {"setting refused", 0, -1, ASYNC_SKIP_TEST, false, 1, ASYNC_SKIP_TEST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSerialDriver driver;
    driver.get_result = c.get_result;
    driver.set_result = c.set_result;
    driver.held.flags = c.flags_before;
    driver.held.baud_base = 24000000;
    driver.held.xmit_fifo_size = 62;
    g_driver = &driver;
    EXPECT_EQ(RequestLowLatency(3, kFakeSerialInfo), c.granted);
    g_driver = nullptr;
    EXPECT_EQ(driver.sets, c.sets);
    EXPECT_EQ(driver.held.flags, c.flags_after);
    EXPECT_EQ(driver.held.baud_base, 24000000);
    EXPECT_EQ(driver.held.xmit_fifo_size, 62);
  }
}

// A pseudo-terminal has no such setting: the link's request changes none of
// the line's settings.
TEST(SerialLatencyTest, APseudoTerminalRefusesAndKeepsItsSettings) {
  PtyPair board(5);
  int fd = open(board.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios before{}, after{};
  ASSERT_EQ(tcgetattr(fd, &before), 0);
  EXPECT_FALSE(RequestLowLatency(fd));
  ASSERT_EQ(tcgetattr(fd, &after), 0);
  close(fd);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST(SerialPortTest, ProbeOpensAndReleasesAFreePortAndRefusesAHeldOne) {
  testing::SkipOpenPause skip_pause;
  PtyPair board(5);
  EXPECT_TRUE(ProbeComPort(5));
  EXPECT_TRUE(ProbeComPort(5)) << "the probe left the port held";
  EXPECT_FALSE(ProbeComPort(6)) << "a port without a device";

  // Held by another program: an exclusive lock on the device.
  int other = open(board.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(ProbeComPort(5));
  close(other);
  EXPECT_TRUE(ProbeComPort(5));

  // Held by the library's own link.
  HostBlock block;
  block.data().ComPort = 5;
  OpenSerialLink(block.data());
  EXPECT_FALSE(ProbeComPort(5));
  CloseSerialLink();
  EXPECT_TRUE(ProbeComPort(5));
}

TEST(SerialPortTest, AProgramWithThePortOpenWithoutAnyLockHoldsItAsOnWindows) {
  testing::SkipOpenPause skip_pause;
  PtyPair board(5);
  HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = 5;
  {
    harness::UnlockedPortUser cat(board.slave_path());
    EXPECT_FALSE(ProbeComPort(5));
    OpenSerialLink(block.data());
    EXPECT_EQ(SerialHandleState(), SerialState::kFailed);
    EXPECT_EQ(testing::SkipOpenPause::skipped(), 1) << "a refused open still pauses";
    SendCommand(block.data(), "?02s?");
    CloseSerialLink();
    EXPECT_EQ(board.ReadAvailable(), "") << "nothing may reach the shared line";
  }
  EXPECT_TRUE(ProbeComPort(5)) << "free again once the program has gone";
  OpenSerialLink(block.data());
  EXPECT_EQ(SerialHandleState(), SerialState::kOpen);
  CloseSerialLink();
}

TEST(SerialPortTest, FailedOpenPausesWaitsOutEveryReplyAndIsRetriedNextRun) {
  HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = 7;  // nothing behind it yet
  auto start = Clock::now();
  OpenSerialLink(block.data());
  EXPECT_GE(MillisecondsSince(start), 1990);
  EXPECT_EQ(SerialHandleState(), SerialState::kFailed);

  start = Clock::now();
  OpenSerialLink(block.data());
  EXPECT_LT(MillisecondsSince(start), 500) << "a failed open is not repeated within a run";

  start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, kSerialReplyWaitMs);
  EXPECT_LT(waited, 1800);

  CloseSerialLink();
  EXPECT_EQ(SerialHandleState(), SerialState::kNotSet);
  PtyPair board(7);  // the board is plugged in for the next run
  OpenSerialLink(block.data());
  EXPECT_EQ(SerialHandleState(), SerialState::kOpen);
  CloseSerialLink();
}

TEST(SerialPortTest, BlocksShareThePortOfTheFirstToOpen) {
  testing::SkipOpenPause skip_pause;
  PtyPair port3(3);
  PtyPair port4(4);
  HostBlock first, second, third;
  first.data().InterfaceKind = kInterfaceUsb;
  first.data().ComPort = 3;
  second.data().InterfaceKind = kInterfaceUsb;
  second.data().ComPort = 4;
  second.data().BaudRate = 115200;
  third.data().InterfaceKind = 2;  // neither Ethernet nor USB: any open port

  OpenSerialLink(first.data());
  auto start = Clock::now();
  OpenSerialLink(second.data());
  EXPECT_LT(MillisecondsSince(start), 500) << "no second open, no second pause";
  EXPECT_EQ(testing::SkipOpenPause::skipped(), 1) << "the first open pauses, the second does not";

  SendCommand(second.data(), "!05s1");
  SendCommand(third.data(), "?02s?");
  EXPECT_EQ(port3.ReadAvailable(), "!05s1?02s?");
  EXPECT_EQ(port4.ReadAvailable(), "");
  CloseSerialLink();
  EXPECT_EQ(SerialHandleState(), SerialState::kNotSet);
}

TEST(SerialPortTest, UnloadReleasesTheHeldPort) {
  testing::SkipOpenPause skip_pause;
  PtyPair board(5);
  HostBlock block;
  block.data().ComPort = 5;
  OpenSerialLink(block.data());
  ASSERT_FALSE(ProbeComPort(5));
  LibraryShutdown();
  EXPECT_EQ(SerialHandleState(), SerialState::kNotSet);
  EXPECT_TRUE(ProbeComPort(5));
}

TEST(SerialPortTest, BoardHangingUpMidRunCostsOnlyTheWait) {
  testing::SkipOpenPause skip_pause;
  auto board = std::make_unique<PtyPair>(5);
  HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = 5;
  OpenSerialLink(block.data());
  board->CloseMaster();
  // Every read of a hung-up port fails at once; the wait must sleep between
  // them, not spin a core for its whole limit, exchange after exchange.
  const long cpu_before = ThreadCpuMs();
  auto start = Clock::now();
  EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
  long waited = MillisecondsSince(start);
  EXPECT_GE(waited, kSerialReplyWaitMs);
  EXPECT_LT(waited, 1800);
  EXPECT_LT(ThreadCpuMs() - cpu_before, 200) << "the wait spun instead of sleeping";
  CloseSerialLink();
}

// A board that stops reading (a hung USB device, a stopped emulator) leaves
// the port's output buffer full; from then on every command must still cost
// a bounded time instead of blocking the host in a write for good.
TEST(SerialPortTest, BoardThatStopsReadingCostsABoundedTime) {
  testing::SkipOpenPause skip_pause;
  PtyPair board(5);  // its side is never read
  HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = 5;
  OpenSerialLink(block.data());
  ASSERT_EQ(SerialHandleState(), SerialState::kOpen);
  std::atomic<bool> done{false};
  std::thread sender([&] {
    SendCommand(block.data(), std::string(256 * 1024, 'x'));  // more than any terminal buffers
    for (int k = 0; k < 10; ++k) SendCommand(block.data(), "?02s?");
    done = true;
  });
  const auto start = Clock::now();
  while (!done && MillisecondsSince(start) < 10000) testing::SleepMs(10);
  const bool finished = done;
  // A write still blocked fails once the board's side is closed, which lets
  // the thread end either way.
  if (!finished) board.CloseMaster();
  sender.join();
  EXPECT_TRUE(finished) << "a write blocked on a port nobody reads";
  CloseSerialLink();
}

}  // namespace
}  // namespace arduino
