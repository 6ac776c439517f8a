// The other holders of a tty, from /proc and from UUCP lock files.  Both are
// read as they are at this moment: processes start and end during the scan,
// so every entry that cannot be read is passed over rather than reported.
#include "link/port_holders_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/port_holders.h"

namespace arduino {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// The pid a directory entry of /proc names; 0 for every other entry.
int PidOf(const char* name) {
  int pid = 0;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c)) || pid > 99'999'999) return 0;
    pid = pid * 10 + (*c - '0');
  }
  return pid;
}

// The first line of /proc/<pid>/comm: the name the program runs under.
std::string ProgramOf(int pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/comm";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char text[64];
  const ssize_t got = read(fd, text, sizeof text);
  close(fd);
  if (got <= 0) return "";
  std::string name(text, static_cast<size_t>(got));
  return name.substr(0, name.find('\n'));
}

// kill with signal 0 only asks whether the process is there; EPERM means it
// is, but belongs to another user.
bool IsAlive(int pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// The pid in a UUCP lock file: ten ASCII digits and a line feed in the HDB
// form that minicom writes, or the binary int of the older form.
int PidInLockFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  char text[32];
  const ssize_t got = read(fd, text, sizeof text);
  close(fd);
  if (got <= 0) return 0;
  const std::string_view bytes(text, static_cast<size_t>(got));
  const bool ascii = bytes.find_first_not_of(" \t\r\n0123456789") == std::string_view::npos;
  if (!ascii) {
    if (bytes.size() != sizeof(int32_t)) return 0;
    int32_t pid = 0;
    std::memcpy(&pid, bytes.data(), sizeof pid);
    return pid > 0 ? pid : 0;
  }
  const size_t start = bytes.find_first_not_of(" \t");
  if (start == std::string_view::npos) return 0;
  const size_t end = bytes.find_first_not_of("0123456789", start);
  const std::string digits(bytes.substr(start, end == std::string_view::npos ? end : end - start));
  if (digits.empty()) return 0;
  // Anything after the digits may only be the line end.
  if (end != std::string_view::npos &&
      bytes.find_first_not_of(" \t\r\n", end) != std::string_view::npos) {
    return 0;
  }
  return PidOf(digits.c_str());
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A lock file names the device by the name its program opened it under,
// which may be a link to it, so both the given name and the real one count.
std::optional<PortHolder> LockFileHolder(const std::string& device,
                                         const std::string& lock_directory) {
  std::vector<std::string> names = {FileNameOf(device)};
  // The links are followed by hand: umockdev's wrapper of realpath, which
  // the port tests run under, writes past the end of its result.
  std::string real = device;
  for (int hop = 0; hop < 16; ++hop) {
    char target[PATH_MAX];
    const ssize_t got = readlink(real.c_str(), target, sizeof target - 1);
    if (got <= 0) break;
    const std::string next(target, static_cast<size_t>(got));
    real = next[0] == '/' ? next : real.substr(0, real.rfind('/') + 1) + next;
  }
  if (FileNameOf(real) != names[0]) names.push_back(FileNameOf(real));
  for (const std::string& name : names) {
    const std::string path = lock_directory + "/LCK.." + name;
    const int pid = PidInLockFile(path);
    // A lock whose process is gone is stale: its program ended without
    // removing it.  Our own lock is no other program's hold.
    if (pid == 0 || pid == getpid() || !IsAlive(pid)) continue;
    return PortHolder{pid, ProgramOf(pid), path};
  }
  return std::nullopt;
}

// Where a descriptor's link leads; reading it asks nothing of the file's
// own filesystem.  Sockets, pipes and the like lead to "socket:[...]" and
// kin.
std::string LinkTarget(int dir, const char* name) {
  char target[PATH_MAX];
  const ssize_t got = readlinkat(dir, name, target, sizeof target);
  return got > 0 ? std::string(target, static_cast<size_t>(got)) : std::string();
}

// Whether the process has a descriptor open on the character device.
bool HasOpen(int pid, dev_t device, const OpenFileStat& stat_open_file) {
  const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
  Dir fds(opendir(fd_dir.c_str()));
  if (!fds) return false;  // gone, or another user's
  while (const dirent* entry = readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    // Only a file under /dev/ can be the port, and only such a file is
    // examined.  A stat reaches the file's own filesystem: on a network
    // share whose server is gone, or a stalled FUSE mount, it blocks for as
    // long as that lasts, and the host's window with it.
    if (!LinkTarget(dirfd(fds.get()), entry->d_name).starts_with("/dev/")) continue;
    struct stat info {};
    if (stat_open_file(fd_dir + "/" + entry->d_name, &info) == 0 && S_ISCHR(info.st_mode) &&
        info.st_rdev == device) {
      return true;
    }
  }
  return false;
}

std::optional<PortHolder> OpenDescriptorHolder(dev_t device, const OpenFileStat& stat_open_file) {
  Dir proc(opendir("/proc"));
  if (!proc) return std::nullopt;
  const int self = getpid();
  while (const dirent* entry = readdir(proc.get())) {
    const int pid = PidOf(entry->d_name);
    if (pid == 0 || pid == self) continue;
    if (HasOpen(pid, device, stat_open_file)) return PortHolder{pid, ProgramOf(pid), ""};
  }
  return std::nullopt;
}

}  // namespace

int StatOpenFile(const std::string& descriptor_link, struct stat* info) {
  // Following the link reaches the open file itself, even where its path
  // names another file in this process's view of the file system.
  return stat(descriptor_link.c_str(), info);
}

std::optional<PortHolder> FindPortHolder(const std::string& device,
                                         const std::string& lock_directory,
                                         const OpenFileStat& stat_open_file) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  if (std::optional<PortHolder> holder = LockFileHolder(device, lock_directory)) return holder;
  return OpenDescriptorHolder(info.st_rdev, stat_open_file);
}

std::optional<PortHolder> FindPortHolder(const std::string& device,
                                         const std::string& lock_directory) {
  return FindPortHolder(device, lock_directory, StatOpenFile);
}

}  // namespace arduino
