// What a process holds, for the long-run tests: open file descriptors, heap
// in use and resident memory, read from the process itself.
#pragma once

#include <malloc.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

namespace soak {

// Open file descriptors of this process.
inline size_t OpenDescriptors() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Heap bytes in use.  The sanitizers replace the allocator and report
// nothing here; their own leak check covers those builds.
inline size_t HeapInUse() { return mallinfo2().uordblks; }

// Resident memory in KiB.
inline long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

inline constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#else
    false;
#endif

}  // namespace soak
