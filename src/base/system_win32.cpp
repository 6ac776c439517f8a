#include "base/system_win32.h"

namespace arduino {

HINSTANCE ThisModule() {
  // Any address inside the module names it, this function's own among them;
  // the reference count is left alone so that asking does not keep the DLL
  // loaded.
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

std::string SystemErrorText(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace arduino
