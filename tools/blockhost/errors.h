// The three ways a blockhost command can fail: a UsageError or an InputError
// exits kExitUsage, a LibraryError kExitLibrary (exit_codes.h).
#pragma once

#include <stdexcept>
#include <string>

#include "exit_codes.h"

namespace blockhost {

// Arguments that make no sense; the usage text follows the message.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Input that is well-formed on the command line but cannot be used, such as
// a missing project file or one written by another program.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An error raised inside the library, or a library that cannot be loaded.
// what() is the library's own message, unchanged.
class LibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace blockhost
