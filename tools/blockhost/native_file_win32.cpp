// Files as Win32 file handles.  The library hands its handle argument to
// _lwrite and _lread as an HFILE, of which it keeps the low 16 bits; an
// HFILE is the value of a file HANDLE, so a handle from CreateFileA serves
// as long as its value fits in those bits, which is checked here rather than
// left to write to some other file.
#include <windows.h>

#include "errors.h"
#include "native_file.h"
#include "system_error_win32.h"

namespace blockhost {
namespace {

HANDLE HandleOf(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string Reason() { return SystemErrorText(GetLastError()); }

intptr_t Checked(HANDLE file, const std::string& path) {
  const intptr_t value = reinterpret_cast<intptr_t>(file);
  if (value > 0xffff) {
    CloseHandle(file);
    throw InputError("cannot hand '" + path + "' to the library: its handle " +
                     std::to_string(value) + " does not fit the 16 bits of an HFILE");
  }
  return value;
}

}  // namespace

NativeFile NativeFile::OpenForReading(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw InputError("cannot open '" + path + "': " + Reason());
  return NativeFile(Checked(file, path), path, {});
}

NativeFile NativeFile::Scratch() {
  char directory[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(MAX_PATH, directory) == 0 || GetTempFileNameA(directory, "bh", 0, path) == 0) {
    throw InputError("cannot name a scratch file: " + Reason());
  }
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const std::string reason = Reason();
    DeleteFileA(path);
    throw InputError("cannot create the scratch file '" + std::string(path) + "': " + reason);
  }
  return NativeFile(Checked(file, path), {}, {});
}

NativeFile NativeFile::Replacement(const std::string& target) {
  // CREATE_NEW never takes over a file that is already there, so a name in
  // use by another run just moves on to the next one.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        target + ".new-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return NativeFile(Checked(file, path), path, target);
    if (GetLastError() != ERROR_FILE_EXISTS) {
      throw InputError("cannot write beside '" + target + "': " + Reason());
    }
  }
  throw InputError("cannot write beside '" + target + "': every scratch name is taken");
}

bool NativeFile::Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), target_(std::move(other.target_)) {
  other.fd_ = -1;
  other.target_.clear();
}

NativeFile::~NativeFile() {
  if (fd_ != -1) CloseHandle(HandleOf(fd_));
  if (!target_.empty()) DeleteFileA(path_.c_str());  // a replacement never committed
}

uint32_t NativeFile::handle() const { return static_cast<uint32_t>(fd_); }

void NativeFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) ||
        written == 0) {
      throw InputError("cannot write '" + path_ + "': " + Reason());
    }
    bytes.remove_prefix(written);
  }
}

bool NativeFile::ReadByte(char* byte) {
  DWORD count = 0;
  if (!ReadFile(HandleOf(fd_), byte, 1, &count, nullptr)) {
    throw InputError("cannot read '" + path_ + "': " + Reason());
  }
  return count == 1;
}

std::string NativeFile::Contents() const {
  LARGE_INTEGER zero{};
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(HandleOf(fd_), zero, &position, FILE_CURRENT) ||
      !SetFilePointerEx(HandleOf(fd_), zero, nullptr, FILE_BEGIN)) {
    throw InputError("cannot read '" + path_ + "': " + Reason());
  }
  std::string all;
  char chunk[4096];
  DWORD count = 0;
  BOOL ok;
  while ((ok = ReadFile(HandleOf(fd_), chunk, sizeof chunk, &count, nullptr)) && count > 0) {
    all.append(chunk, count);
  }
  const std::string reason = ok ? std::string() : Reason();
  SetFilePointerEx(HandleOf(fd_), position, nullptr, FILE_BEGIN);
  if (!ok) throw InputError("cannot read '" + path_ + "': " + reason);
  return all;
}

void NativeFile::Replace(std::string_view bytes) {
  Rewind();
  if (!SetEndOfFile(HandleOf(fd_))) throw InputError("cannot write '" + path_ + "': " + Reason());
  Write(bytes);
  Rewind();
}

int64_t NativeFile::Position() const {
  LARGE_INTEGER zero{};
  LARGE_INTEGER position{};
  SetFilePointerEx(HandleOf(fd_), zero, &position, FILE_CURRENT);
  return position.QuadPart;
}

void NativeFile::Rewind() {
  LARGE_INTEGER zero{};
  SetFilePointerEx(HandleOf(fd_), zero, nullptr, FILE_BEGIN);
}

void NativeFile::Commit() {
  // The handle is closed first: Windows renames no file that is still open
  // without delete sharing.
  const bool flushed = FlushFileBuffers(HandleOf(fd_)) != 0;
  const std::string reason = flushed ? std::string() : Reason();
  CloseHandle(HandleOf(fd_));
  fd_ = -1;
  if (!flushed) throw InputError("cannot write '" + path_ + "': " + reason);
  if (!MoveFileExA(path_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw InputError("cannot replace '" + target_ + "': " + Reason());
  }
  target_.clear();
}

}  // namespace blockhost
