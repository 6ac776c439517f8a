#include "system_error_win32.h"

#include <windows.h>

namespace blockhost {

std::string SystemErrorText(unsigned long code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  LocalFree(text);
  // The system's texts end in a full stop and a line break, which would
  // break the one-line error messages they go into.
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "system error " + std::to_string(code);
  return result;
}

}  // namespace blockhost
