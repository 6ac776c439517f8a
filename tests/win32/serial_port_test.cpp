// The block's COM port as Windows opens it: ports 1 to 9 by their plain
// names, from 10 on in the device namespace (\\.\COM12), and exclusively, so
// that a port another program holds is not ready.  The tests need a port
// with a board or an emulated one behind it, named by its number in
// ARDUINO_BLOCK_TEST_COM; without one they skip.  Under Wine the end-to-end
// tests provide it by linking boardsim's pseudo-terminal into the prefix.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "block_dll.h"
#include "test_platform.h"

namespace arduino::testing {
namespace {

// A port number no machine of ours has: the highest Windows allows.
constexpr int kAbsentPort = 255;

std::optional<int> TestPort() {
  const char* text = std::getenv("ARDUINO_BLOCK_TEST_COM");
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  if (*end != '\0' || port < 1 || port >= kAbsentPort) return std::nullopt;
  return static_cast<int>(port);
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UsbBlock(int port) {
  return SettingsText({"1", std::to_string(port), "115200", "127.0.0.1", "1600", "1", "1", "1", "1",
                       "2", "2", "2", "3", "1", "1", "1", "1", "1", "1"});
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = TestPort();
    if (!port_) {
      GTEST_SKIP() << "ARDUINO_BLOCK_TEST_COM names no COM port (1..254) with a board behind it";
    }
  }

  // What CanSimulateDLL answers for a block set to USB on `port`.
  int32_t Probe(int port) {
    DllBlock block;
    block.Configure(UsbBlock(port));
    return Dll().CanSimulateDLL(block.record());
  }

  std::optional<int> port_;
};

TEST_F(SerialPortTest, PresentPortIsReadyAndAnAbsentOneIsNot) {
  EXPECT_EQ(Probe(*port_), 1) << "COM" << *port_;
  EXPECT_EQ(Probe(kAbsentPort), 0) << "COM" << kAbsentPort;
  // The probe releases the port again: a second probe finds it free.
  EXPECT_EQ(Probe(*port_), 1) << "COM" << *port_;
}

TEST_F(SerialPortTest, PortHeldByAnotherProgramIsNotReady) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine does not enforce share mode 0 on serial devices: a port another "
                    "handle holds opens all the same, so only Windows shows the refusal";
  }
  const std::string name = "\\\\.\\COM" + std::to_string(*port_);
  HANDLE held = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << "cannot open " << name << " to hold it";
  EXPECT_EQ(Probe(*port_), 0) << "a held port was reported ready";
  CloseHandle(held);
  EXPECT_EQ(Probe(*port_), 1) << "the port stayed refused after it was released";
}

}  // namespace
}  // namespace arduino::testing
