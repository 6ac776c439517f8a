// On Windows the library's errors arrive as a structured exception
// (ARDUINO_BLOCK_EXCEPTION_CODE) carrying the class name and the message.
// GCC's C++ cannot catch a structured exception with try/catch, so a
// vectored handler, which the system asks before any frame-based handler,
// jumps back to CallLibrary with longjmp.  On 32-bit Windows longjmp also
// unwinds the system's exception-dispatch frames; the library has already
// finished its own unwinding before it raises.
#include <windows.h>

#include <csetjmp>
#include <exception>
#include <string>

#include "arduino_block.h"
#include "errors.h"
#include "library_call.h"

namespace blockhost {
namespace {

// Where the call in progress lands after an error, and what the error
// carried.  The texts stay valid after the jump (the library keeps them until
// its next error), so the handler only notes where they are.
struct Landing {
  jmp_buf jump;
  ULONG parameter_count = 0;
  const char* message = nullptr;
};
// blockhost calls the library from its main thread only.
Landing* g_landing = nullptr;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (g_landing == nullptr || record->ExceptionCode != ARDUINO_BLOCK_EXCEPTION_CODE) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  Landing* landing = g_landing;
  g_landing = nullptr;
  landing->parameter_count = record->NumberParameters;
  if (record->NumberParameters == ARDUINO_BLOCK_EXCEPTION_PARAMETERS) {
    landing->message = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  }
  longjmp(landing->jump, 1);
}

void InstallHandlerOnce() {
  static const PVOID handler = AddVectoredExceptionHandler(1, &OnException);
  if (handler == nullptr) throw LibraryError("cannot install the handler for the library's errors");
}

// Kept apart from CallLibrary so that no object with a destructor lives in
// the frame that setjmp returns to twice.
// The handler clears g_landing before it jumps.
bool CallCatchingRaise(const std::function<void()>& call, Landing* landing) {
  if (setjmp(landing->jump) != 0) return false;
  g_landing = landing;
  call();
  g_landing = nullptr;
  return true;
}

}  // namespace

void CallLibrary(const std::function<void()>& call) {
  InstallHandlerOnce();
  Landing landing;
  bool completed = false;
  try {
    completed = CallCatchingRaise(call, &landing);
  } catch (const std::exception& error) {
    g_landing = nullptr;
    // Not the library's way of failing, but a C++ error in a call made from
    // here still deserves the same treatment as on Linux.
    throw LibraryError(error.what());
  } catch (...) {
    g_landing = nullptr;
    throw LibraryError("an error that carries no message");
  }
  if (completed) return;
  if (landing.parameter_count != ARDUINO_BLOCK_EXCEPTION_PARAMETERS || landing.message == nullptr) {
    throw LibraryError("an error that carries no message (" +
                       std::to_string(landing.parameter_count) + " exception parameters)");
  }
  throw LibraryError(landing.message);
}

}  // namespace blockhost
