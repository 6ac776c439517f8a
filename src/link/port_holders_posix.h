// The scan for processes that have a tty open, with its one way of looking
// at their files made replaceable, so that the tests can see which files the
// scan examines.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>

#include "link/port_holders.h"

namespace arduino {

// Examines the file that one descriptor of a process has open, given its
// link under /proc ("/proc/42/fd/3"), as stat would: 0 on success, -1 with
// errno set otherwise.  The scan calls it only for descriptors whose link
// leads to a path under /dev/.
using OpenFileStat = std::function<int(const std::string& descriptor_link, struct stat* info)>;

// The real one, which follows the link.
int StatOpenFile(const std::string& descriptor_link, struct stat* info);

// FindPortHolder, looking at the other processes' files through
// `stat_open_file`.
std::optional<PortHolder> FindPortHolder(const std::string& device,
                                         const std::string& lock_directory,
                                         const OpenFileStat& stat_open_file);

}  // namespace arduino
