// The serial link's Windows code on COM ports whose boards misbehave: one
// that never reads (the time-outs the link gives the port, and that a command
// still ends in bounded time once the port's output buffer is full), and one
// that hangs up (a wait that sleeps instead of spinning).  The ports are named
// by their numbers in ARDUINO_BLOCK_TEST_STALLED_COM and
// ARDUINO_BLOCK_TEST_HUNG_UP_COM; under Wine the end-to-end tests provide
// them by linking pseudo-terminals into the prefix.  Without one a test
// skips.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "link/exchange.h"
#include "link/serial.h"
#include "test_support.h"

namespace arduino {
namespace {

std::optional<int> PortNamedBy(const char* variable) {
  const char* text = std::getenv(variable);
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  if (*end != '\0' || port < 1 || port > 255) return std::nullopt;
  return static_cast<int>(port);
}

class StalledPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = PortNamedBy("ARDUINO_BLOCK_TEST_STALLED_COM");
    if (!port_) GTEST_SKIP() << "ARDUINO_BLOCK_TEST_STALLED_COM names no COM port nobody reads";
  }
  std::optional<int> port_;
};

// Only the total read time-out and the two write time-outs are the link's
// own; the other read time-outs stay as the driver had them.
TEST_F(StalledPortTest, PortGetsBoundedWritesAndKeepsTheDriversReadIntervals) {
  PortOpenResult opened = PlatformOpenPort(ComDeviceName(*port_));
  ASSERT_TRUE(opened.ok) << "cannot open COM" << *port_;
  HANDLE handle = reinterpret_cast<HANDLE>(opened.handle);
  COMMTIMEOUTS driver{};
  driver.ReadIntervalTimeout = 7;
  driver.ReadTotalTimeoutMultiplier = 3;
  driver.ReadTotalTimeoutConstant = 999;
  driver.WriteTotalTimeoutMultiplier = 5;
  driver.WriteTotalTimeoutConstant = 0;  // no limit: what drivers come with
  ASSERT_TRUE(SetCommTimeouts(handle, &driver));

  PlatformConfigurePort(opened.handle, 9600);
  COMMTIMEOUTS set{};
  ASSERT_TRUE(GetCommTimeouts(handle, &set));
  PlatformClosePort(opened.handle);
  EXPECT_EQ(set.ReadIntervalTimeout, 7u);
  EXPECT_EQ(set.ReadTotalTimeoutMultiplier, 3u);
  EXPECT_EQ(set.ReadTotalTimeoutConstant, kSerialReadTimeoutMs);
  EXPECT_EQ(set.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(set.WriteTotalTimeoutConstant, kSerialWriteTimeoutMs);
}

struct Sender {
  TUserData* block;
  DWORD commands_ms = 0;  // the ten commands after the buffer is full
};

DWORD WINAPI SendUntilStalledThenCommands(void* argument) {
  auto* sender = static_cast<Sender*>(argument);
  // More than any driver or terminal buffers: the port is full after this.
  SendCommand(*sender->block, std::string(256 * 1024, 'x'));
  DWORD start = GetTickCount();
  for (int k = 0; k < 10; ++k) SendCommand(*sender->block, "?02s?");
  sender->commands_ms = GetTickCount() - start;
  return 0;
}

// A board that stops reading leaves the port's buffer full.  Each command
// then gives up at its first byte after the write time-out, about 100 ms,
// instead of blocking the host's thread for good, or waiting out the
// time-out once for every byte.
TEST_F(StalledPortTest, CommandToABoardThatStoppedReadingEndsInBoundedTime) {
  testing::HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = *port_;
  OpenSerialLink(block.data());
  ASSERT_EQ(SerialHandleState(), SerialState::kOpen);

  Sender sender{&block.data()};
  HANDLE thread = CreateThread(nullptr, 0, &SendUntilStalledThenCommands, &sender, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const bool finished = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
  if (!finished) {
    // Let the thread go so that the program can report and end.
    CancelSynchronousIo(thread);
    if (WaitForSingleObject(thread, 1000) != WAIT_OBJECT_0) TerminateThread(thread, 1);
  }
  CloseHandle(thread);
  CloseSerialLink();
  ASSERT_TRUE(finished) << "a write blocked on a port nobody reads";
  EXPECT_GE(sender.commands_ms, 10 * (kSerialWriteTimeoutMs - 20)) << "the port was not full";
  EXPECT_LT(sender.commands_ms, 10 * 300u) << "each command waited more than once";
}

// This thread's processor time so far, kernel and user, in milliseconds.
long ThreadCpuMs() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& time) {
    return static_cast<long>(
        ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000);
  };
  return ms(kernel) + ms(user);
}

// The board hangs up once the first command reaches it, as an unplugged USB
// adapter does: from then on every read fails at once.  The reply wait keeps
// its limit and sleeps between its reads, exchange after exchange, instead
// of spinning a core.
TEST(HungUpPortTest, AWaitOnAPortWhoseBoardHungUpSleeps) {
  const std::optional<int> port = PortNamedBy("ARDUINO_BLOCK_TEST_HUNG_UP_COM");
  if (!port) GTEST_SKIP() << "ARDUINO_BLOCK_TEST_HUNG_UP_COM names no COM port";
  testing::HostBlock block;
  block.data().InterfaceKind = kInterfaceUsb;
  block.data().ComPort = *port;
  OpenSerialLink(block.data());
  ASSERT_EQ(SerialHandleState(), SerialState::kOpen);
  for (int exchange = 0; exchange < 2; ++exchange) {
    SCOPED_TRACE(exchange == 0 ? "the exchange the board hangs up in" : "the next exchange");
    const long cpu_before = ThreadCpuMs();
    const DWORD start = GetTickCount();
    EXPECT_EQ(ExchangeCommand(block.data(), "?02s?"), "");
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, kSerialReplyWaitMs - 20);
    EXPECT_LT(waited, 3000u);
    EXPECT_LT(ThreadCpuMs() - cpu_before, 250) << "the wait spun instead of sleeping";
  }
  CloseSerialLink();
}

}  // namespace
}  // namespace arduino
