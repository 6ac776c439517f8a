// Who else has a serial device open.  Windows refuses a second open of a
// port by itself, whoever holds it.  Linux lets any number of programs open
// a tty at once, and only those that cooperate (flock, TIOCEXCL, a UUCP lock
// file) keep each other out; a serial monitor, screen or cat that does none
// of that would share the line with the block and take some of its replies.
// So before it opens a device the link also looks for such programs, and
// blockhost names them.
#pragma once

#include <optional>
#include <string>

namespace arduino {

// Where minicom and its kin put their lock files, LCK.. and the device's
// file name (LCK..ttyACM0).
inline constexpr char kUucpLockDirectory[] = "/var/lock";

struct PortHolder {
  int pid = 0;
  std::string program;    // its /proc/<pid>/comm; empty where /proc hides it
  std::string lock_file;  // the lock file naming it; empty when found by its open descriptor
};

// A live process other than this one that holds `device` through a UUCP
// lock file in `lock_directory`, or else one that has it open; nothing if
// there is none this process can see.  Processes of other users are seen
// only where /proc shows their descriptors, that is when running as root
// and /proc is not mounted with hidepid.  Always nothing on Windows, where
// the open itself refuses a held port.
std::optional<PortHolder> FindPortHolder(const std::string& device,
                                         const std::string& lock_directory = kUucpLockDirectory);

// "cat (pid 1234)"; "minicom (pid 99, lock file /var/lock/LCK..ttyACM0)";
// "pid 99" alone for a process whose name cannot be read.
std::string DescribePortHolder(const PortHolder& holder);

}  // namespace arduino
