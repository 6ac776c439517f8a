// What the library asks Windows about itself: the module its code is in and
// the text of an error code.  Every Windows file that needs either comes
// here, so both are answered the same way everywhere.
#pragma once

#include <windows.h>

#include <string>

namespace arduino {

// The module this code is in: the DLL, or the program for the tests that
// link the library's code directly.
HINSTANCE ThisModule();

// The system's own words for an error code of GetLastError, without the
// line end FormatMessage adds; "error <n>" when the system has none.
std::string SystemErrorText(DWORD code);

}  // namespace arduino
