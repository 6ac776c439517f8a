// ReadFromFile over arbitrary bytes: it either reads a whole block, leaving
// the file right after the 19th CR LF, or fails with a library error; it
// never reads past the block.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "arduino_block.h"
#include "block/block_record.h"

namespace {

// Where a complete block of 19 lines would end, or npos.
size_t EndOfBlock(std::string_view bytes) {
  size_t position = 0;
  for (int line = 0; line < 19; ++line) {
    size_t end = bytes.find("\r\n", position);
    // A line's text is at most 999 characters; the reader refuses longer.
    if (end == std::string_view::npos || end - position > 999) return std::string_view::npos;
    position = end + 2;
  }
  return position;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int fd = memfd_create("settings", 0);
  static std::vector<uint8_t> record = [] {
    std::vector<uint8_t> r(8192, 0);
    InitUserDLL(r.data());
    return r;
  }();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  lseek(fd, 0, SEEK_SET);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t end = EndOfBlock(bytes);
  try {
    ReadFromFile(static_cast<uint32_t>(fd), record.data());
    if (end == std::string_view::npos) std::abort();
    if (lseek(fd, 0, SEEK_CUR) != static_cast<off_t>(end)) std::abort();
  } catch (const Exception&) {
    if (lseek(fd, 0, SEEK_CUR) > static_cast<off_t>(end == std::string_view::npos ? size : end)) {
      std::abort();
    }
  }
  return 0;
}
