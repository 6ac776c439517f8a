// A file reached through the kind of handle the library's WriteToFile and
// ReadFromFile take.  Replacements are written beside their target and put
// in place only when complete, so a failed command never damages a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace blockhost {

class NativeFile {
 public:
  // Opens an existing file for reading; throws InputError when it cannot.
  static NativeFile OpenForReading(const std::string& path);
  // An anonymous scratch file that vanishes when closed.
  static NativeFile Scratch();
  // A new file that replaces `target` when Commit is called; dropped if not.
  static NativeFile Replacement(const std::string& target);
  static bool Exists(const std::string& path);

  NativeFile(NativeFile&& other) noexcept;
  NativeFile& operator=(NativeFile&&) = delete;
  NativeFile(const NativeFile&) = delete;
  ~NativeFile();

  // The handle to pass to the library.
  uint32_t handle() const;
  void Write(std::string_view bytes);
  // Reads one byte; false at the end of the file.
  bool ReadByte(char* byte);
  // Everything from the start of the file; the position stays where it was.
  std::string Contents() const;
  // Makes `bytes` the whole file and rewinds it.
  void Replace(std::string_view bytes);
  // Where the next read or write starts, from the start of the file.
  int64_t Position() const;
  void Rewind();
  // Moves a replacement onto its target.
  void Commit();

 private:
  NativeFile(intptr_t fd, std::string path, std::string target)
      : fd_(fd), path_(std::move(path)), target_(std::move(target)) {}

  intptr_t fd_;         // a descriptor; on Windows the value of a file HANDLE
  std::string path_;    // where the file lives; empty for scratch files
  std::string target_;  // what a replacement replaces; empty otherwise
};

}  // namespace blockhost
