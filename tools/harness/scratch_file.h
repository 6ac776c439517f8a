// A scratch file that the library reads and writes through the handle a host
// hands it: a file descriptor on Linux, a Win32 file handle on Windows (what
// the library's _lread/_lwrite expect, not a C runtime descriptor).  The
// system deletes it when it closes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace harness {

class ScratchFile {
 public:
  // Throws std::runtime_error when the system gives no file.
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // The handle as the library's WriteToFile and ReadFromFile take it.
  uint32_t handle() const;
  // The whole file; the position stays where it was.
  std::string Contents() const;
  // Makes `bytes` the whole file and rewinds it.
  void Replace(const std::string& bytes);
  off_t Position() const;
  void Rewind();

 private:
  void* file_;  // a FILE* or a HANDLE, by platform
};

}  // namespace harness
