// The scratch file as an anonymous temporary file reached through its
// descriptor, like the host's project file.
#include <stdio.h>
#include <unistd.h>

#include <stdexcept>

#include "scratch_file.h"

namespace harness {
namespace {

int Fd(void* file) { return fileno(static_cast<FILE*>(file)); }

}  // namespace

ScratchFile::ScratchFile() : file_(tmpfile()) {
  if (file_ == nullptr) throw std::runtime_error("cannot make a scratch file");
}

ScratchFile::~ScratchFile() { fclose(static_cast<FILE*>(file_)); }

uint32_t ScratchFile::handle() const { return static_cast<uint32_t>(Fd(file_)); }

std::string ScratchFile::Contents() const {
  const off_t position = Position();
  lseek(Fd(file_), 0, SEEK_SET);
  std::string all;
  char chunk[4096];
  ssize_t n;
  while ((n = read(Fd(file_), chunk, sizeof chunk)) > 0) all.append(chunk, n);
  lseek(Fd(file_), position, SEEK_SET);
  return all;
}

void ScratchFile::Replace(const std::string& bytes) {
  lseek(Fd(file_), 0, SEEK_SET);
  if (ftruncate(Fd(file_), 0) != 0 ||
      write(Fd(file_), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("cannot write the scratch file");
  }
  lseek(Fd(file_), 0, SEEK_SET);
}

off_t ScratchFile::Position() const { return lseek(Fd(file_), 0, SEEK_CUR); }

void ScratchFile::Rewind() { lseek(Fd(file_), 0, SEEK_SET); }

}  // namespace harness
