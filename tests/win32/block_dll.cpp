#include "block_dll.h"

#include <csetjmp>

namespace arduino::testing {
namespace {

// The jump back into CatchBlockError.  A vectored handler runs before any
// frame-based one and is the only way for a GCC-built program to catch a
// structured exception; it leaves through longjmp, which also unwinds the
// system's exception-dispatch frames.
jmp_buf* g_landing = nullptr;
BlockError g_caught;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (g_landing == nullptr || record->ExceptionCode != ARDUINO_BLOCK_EXCEPTION_CODE) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (record->NumberParameters == ARDUINO_BLOCK_EXCEPTION_PARAMETERS) {
    g_caught.class_name = reinterpret_cast<const char*>(record->ExceptionInformation[0]);
    g_caught.message = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  } else {
    g_caught = {"?", "wrong parameter count " + std::to_string(record->NumberParameters)};
  }
  longjmp(*g_landing, 1);
}

}  // namespace

const harness::BlockExports& Dll() { return harness::SharedLibrary("ArduinoBlock.dll").exports(); }

HMODULE DllModule() {
  return static_cast<HMODULE>(harness::SharedLibrary("ArduinoBlock.dll").library().native_handle());
}

std::optional<BlockError> CatchBlockError(const std::function<void()>& call) {
  static PVOID handler = AddVectoredExceptionHandler(1, &OnException);
  (void)handler;
  jmp_buf landing;
  // volatile: the value must survive the longjmp in a register-free place.
  volatile bool raised = false;
  g_landing = &landing;
  if (setjmp(landing) == 0) {
    call();
  } else {
    raised = true;
  }
  g_landing = nullptr;
  if (!raised) return std::nullopt;
  return g_caught;
}

}  // namespace arduino::testing
