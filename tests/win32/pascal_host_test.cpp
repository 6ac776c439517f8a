// The DLL in a host written in Object Pascal (tests/win32/pascal), against a
// board on loopback: the host checks its registers and floating-point state
// around every call and reports any difference; this side plays the board
// and checks what the block sent it.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "udp_peer.h"

namespace arduino::testing {
namespace {

using Lines = std::vector<std::string>;

// The host beside this program, where the build puts it when Free Pascal is
// installed.
std::string PascalHostPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string self(path, length);
  return self.substr(0, self.find_last_of("\\/") + 1) + "pascal_host.exe";
}

// Runs the host with `arguments` and returns its exit code; its output goes
// to this program's.
DWORD RunHost(const std::string& program, const std::string& arguments) {
  std::string command_line = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
    return 1000;
  }
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, 120'000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1001);
    ADD_FAILURE() << "the Pascal host did not end within two minutes";
  }
  DWORD code = 1002;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code;
}

// The commands of a step of the host's block (pins 2 to 9: digital output,
// PWM, digital input, digital output, PWM, unused, digital input, PWM; A0)
// with every input driven the same way.
Lines StepCommands(const std::string& level, const std::string& pwm) {
  return {"!02" + level, "pwm03", "w" + pwm, "?04s?",   "!05" + level, "pwm06",
          "w" + pwm,     "?08s?", "pwm09",   "w" + pwm, "?14s?"};
}

TEST(PascalHostTest, RunsUnderPascalsControlWordWithNothingLeftBehind) {
  const std::string host = PascalHostPath();
  if (GetFileAttributesA(host.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no Pascal host was built (Free Pascal's packages fpc-source-3.2.2, "
                    "fp-compiler-3.2.2 and fp-utils-3.2.2 are not installed)";
  }
  // A0's replies, one per step: good ones for the start and the nine odd
  // inputs, then out of range, too small, not a number and good again.
  std::mutex mutex;
  std::deque<std::string> analog(10, "512");
  for (const char* reply : {"1e5000", "1e-5000", "1,5", "512", "512"}) analog.push_back(reply);
  harness::AnsweringPeer board([&](const std::string& command) -> std::optional<std::string> {
    if (command == "?04s?" || command == "?08s?") return std::string("HIGH");
    if (command != "?14s?") return std::string("OK");
    std::lock_guard<std::mutex> lock(mutex);
    if (analog.empty()) return std::string("512");
    std::string reply = analog.front();
    analog.pop_front();
    return reply;
  });

  EXPECT_EQ(RunHost(host, std::to_string(board.port())), 0u)
      << "the Pascal host found differences (its FAIL lines are above)";

  Lines expected{"!02mo", "!03mo", "!04mi", "!05mo", "!06mo", "!08mi", "!09mo", "!14mi"};
  auto add = [&](const Lines& step) { expected.insert(expected.end(), step.begin(), step.end()); };
  add(StepCommands("s0", "0000"));  // the start, every input 0
  // NaN (quiet, negative, signalling), +Inf, -Inf, 1e4000, -1e4000, a
  // denormal, -0: a NaN is taken as 0 on every pin.
  for (const char* level : {"s0", "s0", "s0", "s1", "s0", "s1", "s0", "s0", "s0"}) {
    add(StepCommands(level, level == std::string("s1") ? "1023" : "0000"));
  }
  for (int step = 0; step < 4; ++step) add(StepCommands("s0", "0000"));  // the replies
  // 510.5 + 2^-54 on pin 3 at the host's 53-bit precision still rounds up.
  Lines precise = StepCommands("s0", "0000");
  precise[2] = "w0511";
  add(precise);
  EXPECT_EQ(board.commands(), expected);
}

}  // namespace
}  // namespace arduino::testing
