// The scratch file as a temporary file that the system deletes when its
// handle closes.
#include <windows.h>

#include <stdexcept>

#include "scratch_file.h"

namespace harness {
namespace {

HANDLE File(void* file) { return static_cast<HANDLE>(file); }

void Seek(void* file, off_t position) {
  SetFilePointer(File(file), static_cast<LONG>(position), nullptr, FILE_BEGIN);
}

}  // namespace

ScratchFile::ScratchFile() {
  char directory[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(MAX_PATH, directory) == 0 || GetTempFileNameA(directory, "abt", 0, path) == 0) {
    throw std::runtime_error("cannot name a scratch file");
  }
  file_ = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a scratch file");
}

ScratchFile::~ScratchFile() { CloseHandle(File(file_)); }

uint32_t ScratchFile::handle() const {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(file_));
}

std::string ScratchFile::Contents() const {
  const off_t position = Position();
  Seek(file_, 0);
  std::string all;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(File(file_), chunk, sizeof chunk, &n, nullptr) && n > 0) all.append(chunk, n);
  Seek(file_, position);
  return all;
}

void ScratchFile::Replace(const std::string& bytes) {
  Seek(file_, 0);
  DWORD written = 0;
  if (!SetEndOfFile(File(file_)) ||
      !WriteFile(File(file_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    throw std::runtime_error("cannot write the scratch file");
  }
  Seek(file_, 0);
}

off_t ScratchFile::Position() const {
  return static_cast<off_t>(SetFilePointer(File(file_), 0, nullptr, FILE_CURRENT));
}

void ScratchFile::Rewind() { Seek(file_, 0); }

}  // namespace harness
