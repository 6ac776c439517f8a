// A shared library loaded at run time.  The platform file behind it is the
// only place that knows how the system loads libraries and finds symbols.
#pragma once

#include <string>

namespace blockhost {

class DynamicLibrary {
 public:
  // Loads the library at `path`; throws LibraryError with the loader's
  // reason when that fails.
  explicit DynamicLibrary(const std::string& path);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported symbol `name`, or nullptr if there is none.
  void* Find(const char* name) const;
  // The system's handle (an HMODULE on Windows), for code that reads the
  // loaded image itself.
  void* native_handle() const { return handle_; }

 private:
  void* handle_;
};

}  // namespace blockhost
