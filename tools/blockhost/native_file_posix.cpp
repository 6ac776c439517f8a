// Files as POSIX descriptors: the library takes the descriptor number as its
// file handle.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "errors.h"
#include "native_file.h"

namespace blockhost {
namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

NativeFile NativeFile::OpenForReading(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError("cannot open '" + path + "': " + Reason());
  return NativeFile(fd, path, {});
}

NativeFile NativeFile::Scratch() {
  const char* directory = getenv("TMPDIR");
  std::string pattern =
      std::string(directory && *directory ? directory : "/tmp") + "/blockhost-XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw InputError("cannot create a scratch file in '" + pattern + "': " + Reason());
  unlink(pattern.c_str());
  return NativeFile(fd, {}, {});
}

NativeFile NativeFile::Replacement(const std::string& target) {
  std::string pattern = target + ".new-XXXXXX";
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw InputError("cannot write beside '" + target + "': " + Reason());
  // A new file gets the usual permissions rather than mkstemp's 0600.
  mode_t mask = umask(0);
  umask(mask);
  struct stat existing {};
  fchmod(fd, stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0666 & ~mask);
  return NativeFile(fd, pattern, target);
}

bool NativeFile::Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), target_(std::move(other.target_)) {
  other.fd_ = -1;
  other.target_.clear();
}

NativeFile::~NativeFile() {
  if (fd_ >= 0) close(fd_);
  if (!target_.empty()) unlink(path_.c_str());  // a replacement never committed
}

uint32_t NativeFile::handle() const { return static_cast<uint32_t>(fd_); }

void NativeFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw InputError("cannot write '" + path_ + "': " + Reason());
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool NativeFile::ReadByte(char* byte) {
  ssize_t n;
  do {
    n = read(fd_, byte, 1);
  } while (n < 0 && errno == EINTR);
  if (n < 0) throw InputError("cannot read '" + path_ + "': " + Reason());
  return n == 1;
}

std::string NativeFile::Contents() const {
  std::string all;
  char chunk[4096];
  off_t offset = 0;
  ssize_t n;
  while ((n = pread(fd_, chunk, sizeof chunk, offset)) > 0) {
    all.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
  if (n < 0) throw InputError("cannot read '" + path_ + "': " + Reason());
  return all;
}

void NativeFile::Replace(std::string_view bytes) {
  Rewind();
  if (ftruncate(fd_, 0) != 0) throw InputError("cannot write '" + path_ + "': " + Reason());
  Write(bytes);
  Rewind();
}

int64_t NativeFile::Position() const { return lseek(fd_, 0, SEEK_CUR); }

void NativeFile::Rewind() { lseek(fd_, 0, SEEK_SET); }

void NativeFile::Commit() {
  if (fsync(fd_) != 0) throw InputError("cannot write '" + path_ + "': " + Reason());
  if (rename(path_.c_str(), target_.c_str()) != 0) {
    throw InputError("cannot replace '" + target_ + "': " + Reason());
  }
  target_.clear();
}

}  // namespace blockhost
