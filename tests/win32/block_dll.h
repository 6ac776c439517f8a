// The DLL under test, loaded once per test program the way a host loads it,
// and the host-side pieces the tests hand to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "arduino_block.h"
#include "loaded_block.h"
#include "settings_record.h"

namespace arduino::testing {

using hostmodel::SettingsText;

// ArduinoBlock.dll from the program's directory, loaded on first use.
const harness::BlockExports& Dll();
HMODULE DllModule();

// A block record owned by the test, as the host owns its records, filled
// with bytes the DLL must leave alone.  The host's application window goes
// into the record before the block starts.
class DllBlock : public harness::LoadedBlock {
 public:
  explicit DllBlock(uint32_t app_handle = 0) : LoadedBlock(Dll(), app_handle, 0xA5) {}
};

// What the host's handler finds in a structured exception of the DLL.
struct BlockError {
  std::string class_name;
  std::string message;
};

// Runs `call`; if the DLL raises its structured exception, returns its class
// and message.  Other exceptions pass on untouched.
std::optional<BlockError> CatchBlockError(const std::function<void()>& call);

// The x87 control word and the SSE control register, as the code that reads
// them runs under.
struct FloatControl {
  uint16_t x87 = 0;
  uint32_t mxcsr = 0;
  bool operator==(const FloatControl&) const = default;
};

// MXCSR's low six bits are sticky flags, not settings: any arithmetic raises
// them, the host's own window code as much as ours (64-bit Windows code does
// its floating point in SSE), so only the settings are compared.
inline constexpr uint32_t kMxcsrFlags = 0x3F;

inline FloatControl CurrentFloatControl() {
  FloatControl control;
  asm volatile("fnstcw %0" : "=m"(control.x87));
  asm volatile("stmxcsr %0" : "=m"(control.mxcsr));
  control.mxcsr &= ~kMxcsrFlags;
  return control;
}

inline void LoadFloatControl(const FloatControl& control) {
  asm volatile("fldcw %0" ::"m"(control.x87));
  asm volatile("ldmxcsr %0" ::"m"(control.mxcsr));
}

// A host's state unlike the block's that masks every exception, so that the
// test's own code runs on under it: 53-bit precision, rounding down.
inline constexpr FloatControl kHostFloatControl{0x067F, 0x3F80};

// A window of the test's own, standing in for one of the host's: its class is
// registered for it and both go when it does, so that a failed assertion
// leaves nothing behind for the next test.  A message-only window unless a
// style is given, in which case it is a visible top-level window.
class TestWindow {
 public:
  TestWindow(const wchar_t* class_name, WNDPROC procedure, DWORD style = 0)
      : class_name_(class_name), instance_(GetModuleHandleW(nullptr)) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance_;
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    window_ = style == 0 ? CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           instance_, nullptr)
                         : CreateWindowExW(0, class_name, L"Host", style, 10, 10, 300, 200, nullptr,
                                           nullptr, instance_, nullptr);
  }
  ~TestWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    UnregisterClassW(class_name_, instance_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND handle() const { return window_; }
  uint32_t id() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_)); }

 private:
  const wchar_t* class_name_;
  HINSTANCE instance_;
  HWND window_;
};

}  // namespace arduino::testing
