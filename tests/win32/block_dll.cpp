#include "block_dll.h"

#include <csetjmp>
#include <cstring>
#include <stdexcept>

namespace arduino::testing {
namespace {

constexpr size_t kRecordSize = 8192;

template <class Fn>
Fn Export(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) throw std::runtime_error(std::string("no export ") + name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

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

const BlockDll& Dll() {
  static const BlockDll dll = [] {
    HMODULE module = LoadLibraryA("ArduinoBlock.dll");
    if (module == nullptr) throw std::runtime_error("LoadLibrary(ArduinoBlock.dll) failed");
    return BlockDll{module,
                    Export<InitUserDLLFn>(module, "InitUserDLL"),
                    Export<DisposeUserDLLFn>(module, "DisposeUserDLL"),
                    Export<CanSimulateDLLFn>(module, "CanSimulateDLL"),
                    Export<InitSimulationDLLFn>(module, "InitSimulationDLL"),
                    Export<SimulateDLLFn>(module, "SimulateDLL"),
                    Export<EndSimulationDLL2Fn>(module, "EndSimulationDLL2"),
                    Export<CallParameterDialogDLLFn>(module, "CallParameterDialogDLL"),
                    Export<WriteToFileFn>(module, "WriteToFile"),
                    Export<ReadFromFileFn>(module, "ReadFromFile")};
  }();
  return dll;
}

DllBlock::DllBlock(uint32_t app_handle) : record_(kRecordSize, 0xA5) {
  std::memcpy(record_.data() + ARDUINO_BLOCK_APPHANDLE_OFFSET, &app_handle, 4);
  Dll().InitUserDLL(record_.data());
}

DllBlock::~DllBlock() {
  if (alive_) Dll().DisposeUserDLL(record_.data());
}

void DllBlock::Dispose() {
  Dll().DisposeUserDLL(record_.data());
  alive_ = false;
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
