// Files beside a test: a private scratch directory for logs, project files
// and pseudo-terminal links, and whole-file reads and writes.  POSIX only.
#pragma once

#include <string>
#include <vector>

namespace harness {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.  Throws when none can be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with `bytes`; throws when it cannot.
void WriteFile(const std::string& path, const std::string& bytes);
// The file's lines without their line ends; none when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace harness
