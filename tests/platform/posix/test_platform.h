// The POSIX side of the test helpers.  CMake puts this directory on the
// include path of the Linux builds only.
#pragma once

#include <unistd.h>

#include "scratch_file.h"

namespace arduino::testing {

// The library's messages are UTF-8 on Linux.
constexpr char kUUmlaut[] = "\xc3\xbc";

// Locale names that give a comma as decimal separator, where installed.
constexpr const char* kCommaLocaleNames[] = {"de_DE.UTF-8", "de_DE.utf8"};

inline void SleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

using harness::ScratchFile;

}  // namespace arduino::testing
