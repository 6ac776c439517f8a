// The Windows side of the test helpers.  CMake puts this directory on the
// include path of the Windows build only.
#pragma once

#include <windows.h>

#include "scratch_file.h"

namespace arduino::testing {

// The library's messages are code page 1252 on Windows.
constexpr char kUUmlaut[] = "\xfc";

// Locale names that give a comma as decimal separator.  The C runtime knows
// no POSIX names; the empty name is the user's locale, which Wine takes from
// LC_ALL or LANG, so the tests run with LC_ALL=de_DE.UTF-8 to get German.
constexpr const char* kCommaLocaleNames[] = {""};

inline void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

using harness::ScratchFile;

}  // namespace arduino::testing
