// The three ways a blockhost command can fail, each with its own exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace blockhost {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;    // bad arguments, unreadable or foreign files
constexpr int kExitLibrary = 2;  // the library failed to load or raised an error

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
