// Libraries through dlopen.  RTLD_NODELETE keeps the code mapped after
// dlclose: the library may have left callbacks with the GLib main loop or
// handlers with the C runtime that run at process exit.
#include <dlfcn.h>

#include "dynamic_library.h"
#include "errors.h"

namespace blockhost {

DynamicLibrary::DynamicLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw LibraryError("cannot load '" + path + "': " + (reason ? reason : "unknown reason"));
  }
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }

void* DynamicLibrary::Find(const char* name) const { return dlsym(handle_, name); }

}  // namespace blockhost
