// A scratch file that the library reads and writes through the handle a host
// hands it: blockhost's own, a file descriptor on Linux and a Win32 file
// handle on Windows (what the library's _lread/_lwrite expect, not a C
// runtime descriptor).  It vanishes when it closes.
#pragma once

#include "native_file.h"

namespace harness {

class ScratchFile : public blockhost::NativeFile {
 public:
  // Throws std::runtime_error (blockhost::InputError) when the system gives
  // no file.
  ScratchFile() : NativeFile(NativeFile::Scratch()) {}
};

}  // namespace harness
