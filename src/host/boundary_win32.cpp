// On Windows the host is no C++ program and cannot catch our exceptions, so
// an error leaves an export as a structured exception that any language can
// catch: ARDUINO_BLOCK_EXCEPTION_CODE with the class name and the message
// (code page 1252) as its two parameters.
#include <cxxabi.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "arduino_block.h"
#include "host/boundary.h"

namespace arduino {
namespace {

// The texts live here, not in the exception object, so that they are still
// valid when the host's handler reads them after unwinding our frames.  The
// message is kept whole, however long: a long settings line or a long reply
// is quoted in it, and the end says what was wrong with it.
char g_class_name[64];
std::string g_message;

void Store(char* target, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length >= size) length = size - 1;
  std::memcpy(target, text, length);
  target[length] = '\0';
}

void StoreMessage(const char* text) {
  // Nothing may escape from here: we are inside the export's catch block.
  // Should the memory for a longer text not be there, the message keeps
  // what fits the room it already has.
  try {
    g_message.assign(text);
  } catch (...) {
    g_message.assign(text, std::min(std::strlen(text), g_message.capacity()));
  }
}

}  // namespace

void RaiseToHost() {
  try {
    throw;
  } catch (const Exception& e) {
    Store(g_class_name, sizeof g_class_name, e.ClassName());
    StoreMessage(e.what());
  } catch (const std::exception& e) {
    Store(g_class_name, sizeof g_class_name, "Exception");
    StoreMessage(e.what());
  } catch (...) {
    Store(g_class_name, sizeof g_class_name, "Exception");
    StoreMessage("Unknown error");
  }
  try {
    OutputDebugStringA((std::string(g_class_name) + ": " + g_message).c_str());
  } catch (...) {
    OutputDebugStringA(g_message.c_str());
  }

  // The host leaves by unwinding or jumping past our frames, so the catch
  // block we were called from never ends by itself.  Ending it here frees the
  // C++ exception object instead of leaking it with every error.
  abi::__cxa_end_catch();

  const ULONG_PTR parameters[ARDUINO_BLOCK_EXCEPTION_PARAMETERS] = {
      reinterpret_cast<ULONG_PTR>(g_class_name), reinterpret_cast<ULONG_PTR>(g_message.c_str())};
  RaiseException(ARDUINO_BLOCK_EXCEPTION_CODE, EXCEPTION_NONCONTINUABLE,
                 ARDUINO_BLOCK_EXCEPTION_PARAMETERS, parameters);
  // A noncontinuable exception never returns here; if a handler tries to
  // continue, the system raises its own exception instead.
  std::terminate();
}

}  // namespace arduino
