// A quit message that arrives while the DLL pumps messages in a wait still
// reaches the host's own message loop after the export returns.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "block_dll.h"
#include "test_platform.h"
#include "udp_peer.h"

namespace arduino::testing {
namespace {

// Ethernet to a board that never answers; only pin 2 (a digital input) is
// used, so one step is one command and one full reply wait.
std::string OnePinBlock(uint16_t port) {
  return SettingsText({"0", "1", "9600", "127.0.0.1", std::to_string(port), "1", "0", "0", "0", "0",
                       "0", "0", "0", "0", "0", "0", "0", "0", "0"});
}

class HostLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.Configure(OnePinBlock(board_.port()));
    Dll().InitSimulationDLL(block_.record(), inputs_.data(), outputs_.data());
    commands_before_ = board_.commands().size();
  }
  void TearDown() override {
    // A quit left over from a failed case must not leak into the next one.
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  size_t StepCommands() const { return board_.commands().size() - commands_before_; }
  void Step() { Dll().SimulateDLL(Lead12{}, block_.record(), inputs_.data(), outputs_.data()); }
  static bool QuitPending() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
  }

  harness::AnsweringPeer board_{[](const std::string&) { return std::nullopt; }};
  DllBlock block_;
  std::vector<uint8_t> inputs_ =
      std::vector<uint8_t>(ARDUINO_BLOCK_INPUTS * ARDUINO_BLOCK_EXTENDED_SIZE);
  std::vector<uint8_t> outputs_ =
      std::vector<uint8_t>(ARDUINO_BLOCK_OUTPUTS * ARDUINO_BLOCK_EXTENDED_SIZE);
  size_t commands_before_ = 0;
};

TEST_F(HostLoopTest, QuitPostedBeforeAWaitReachesGetMessageAfterIt) {
  PostQuitMessage(42);
  Step();
  ASSERT_EQ(StepCommands(), 1u) << "the step sent no command";
  ASSERT_TRUE(QuitPending()) << "the quit message was swallowed";
  MSG message;
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), 0);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 42u);
  EXPECT_FALSE(QuitPending()) << "the quit message came back twice";
}

TEST_F(HostLoopTest, WithoutAQuitNoneAppears) {
  Step();
  Step();
  EXPECT_EQ(StepCommands(), 2u);
  EXPECT_FALSE(QuitPending());
}

int g_timer_calls = 0;
void CALLBACK CountTimer(HWND, UINT, UINT_PTR, DWORD) { ++g_timer_calls; }

TEST_F(HostLoopTest, OtherMessagesAreDispatchedDuringTheWait) {
  // The host's timers keep running while the DLL waits: its pump delivers
  // them as the host's own loop would have.
  g_timer_calls = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, &CountTimer);
  Step();
  KillTimer(nullptr, timer);
  EXPECT_GT(g_timer_calls, 0);
}

WPARAM g_received_char = 0;
LRESULT CALLBACK RecordChar(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CHAR) g_received_char = wparam;
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(HostLoopTest, UnicodeWindowsGetTheirCharactersWhole) {
  // A host window of the Unicode kind must get a character that the ANSI
  // code page cannot hold, such as a Cyrillic letter, unchanged through the
  // DLL's pump, not a question mark.
  const TestWindow host_window(L"UnicodeHostWindow", &RecordChar);
  HWND window = host_window.handle();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(IsWindowUnicode(window));
  g_received_char = 0;
  PostMessageW(window, WM_CHAR, 0x0416, 0);
  Step();
  EXPECT_EQ(g_received_char, 0x0416u);
}

constexpr UINT kPostedProbe = WM_APP + 1;
constexpr UINT kSentProbe = WM_APP + 2;
std::vector<std::pair<UINT, FloatControl>> g_probes;
LRESULT CALLBACK RecordFloatControl(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kPostedProbe || message == kSentProbe) {
    g_probes.emplace_back(message, CurrentFloatControl());
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(HostLoopTest, HostWindowProceduresRunUnderTheHostsFloatingPointState) {
  // Two ways the wait's pump runs a host window procedure: DispatchMessage
  // for a posted message, and PeekMessage itself for a message that another
  // thread sends.
  const TestWindow host_window(L"FloatProbeWindow", &RecordFloatControl);
  HWND window = host_window.handle();
  ASSERT_NE(window, nullptr);
  g_probes.clear();
  PostMessageW(window, kPostedProbe, 0, 0);
  HANDLE sending = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread sender([&] {
    SetEvent(sending);
    DWORD_PTR ignored;
    // Handled only once this thread's queue is pumped, which is in the wait.
    SendMessageTimeoutW(window, kSentProbe, 0, 0, SMTO_NORMAL, 5000, &ignored);
  });
  WaitForSingleObject(sending, 5000);
  Sleep(50);  // the send is under way by now; the wait lasts 100 ms more
  const FloatControl saved = CurrentFloatControl();
  const FloatControl host = kHostFloatControl;
  LoadFloatControl(host);
  Step();
  const FloatControl after = CurrentFloatControl();
  LoadFloatControl(saved);
  sender.join();
  CloseHandle(sending);
  ASSERT_EQ(g_probes.size(), 2u) << "the wait did not run both window procedures";
  for (const auto& [message, seen] : g_probes) {
    SCOPED_TRACE(message == kSentProbe ? "sent" : "posted");
    EXPECT_EQ(seen.x87, host.x87);
    EXPECT_EQ(seen.mxcsr, host.mxcsr);
  }
  EXPECT_EQ(after, host);
}

}  // namespace
}  // namespace arduino::testing
