#include <windows.h>

#include <cstdio>
#include <cstring>

#include "process_environment.h"

namespace blockhost {

std::string ExecutableDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return ".";
  std::string directory(path, length);
  const size_t slash = directory.find_last_of("\\/");
  return slash == std::string::npos ? "." : directory.substr(0, slash);
}

std::string DefaultLibraryPath() { return ExecutableDirectory() + "\\ArduinoBlock.dll"; }

std::string LibraryFileVersion(const std::string& path) {
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
  if (size == 0) return "";
  std::string info(size, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return "";
  // The first translation names the string table to read.
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation)) {
    return "";
  }
  char key[64];
  snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\FileVersion", translation->language,
           translation->code_page);
  char* text = nullptr;
  if (!VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&text), &length) || length == 0) {
    return "";
  }
  return std::string(text, strnlen(text, length));
}

bool StderrIsTerminal() {
  // The progress line moves the cursor with VT sequences, which a console
  // understands only once asked to; where it cannot be asked, there is no
  // progress line rather than one full of escape codes.
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
  constexpr DWORD kVirtualTerminalProcessing = 0x0004;
  return (mode & kVirtualTerminalProcessing) != 0 ||
         SetConsoleMode(console, mode | kVirtualTerminalProcessing) != 0;
}

// The Win32 call, not the C runtime's copy of the environment, which a
// program that started blockhost with a changed block would not reach.
std::optional<std::string> ProcessVariable(const std::string& name) {
  const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA(name.c_str(), value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
}

bool HasDisplay() { return true; }

}  // namespace blockhost
