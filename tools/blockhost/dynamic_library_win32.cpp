// Libraries through LoadLibraryA.  The exports carry their plain names (the
// library's .def strips the __stdcall decoration), so GetProcAddress finds
// them by the same names as dlsym does on Linux.
#include <windows.h>

#include "dynamic_library.h"
#include "errors.h"
#include "system_error_win32.h"

namespace blockhost {
namespace {

HMODULE ModuleOf(void* handle) { return static_cast<HMODULE>(handle); }

void* Load(const std::string& path) {
  // A library whose own dependencies are missing would otherwise make the
  // system ask the user in a message box instead of failing the call.
  const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(path.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(previous_mode);
  if (module == nullptr) {
    throw LibraryError("cannot load '" + path + "': " + SystemErrorText(error));
  }
  return module;
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) : handle_(Load(path)) {}

DynamicLibrary::~DynamicLibrary() { FreeLibrary(ModuleOf(handle_)); }

void* DynamicLibrary::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(ModuleOf(handle_), name));
}

}  // namespace blockhost
