#include "eeprom_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace avrboard {

constexpr uint8_t kErased = 0xFF;

bool LoadEepromFile(const std::string& path, size_t size, std::vector<uint8_t>* bytes,
                    std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) {
      bytes->assign(size, kErased);
      return true;
    }
    *error = "cannot read EEPROM file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> contents((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read EEPROM file '" + path + "'";
    return false;
  }
  if (contents.size() != size) {
    *error = "EEPROM file '" + path + "' holds " + std::to_string(contents.size()) +
             " bytes; this chip's EEPROM is " + std::to_string(size) + " bytes";
    return false;
  }
  *bytes = std::move(contents);
  return true;
}

bool SaveEepromFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
  const std::string temporary = path + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot write '" + temporary + "': " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  // The data must be on disk before the rename makes it the file.
  const bool complete = written == bytes.size() && fsync(fd) == 0;
  const int saved_errno = errno;
  close(fd);
  if (!complete || rename(temporary.c_str(), path.c_str()) != 0) {
    *error =
        "cannot save EEPROM file '" + path + "': " + std::strerror(complete ? errno : saved_errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace avrboard
