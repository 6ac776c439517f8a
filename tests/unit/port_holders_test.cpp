// Finding the other holders of a tty: processes with it open, found in
// /proc, and UUCP lock files of live processes.  Real pseudo-terminals, real
// processes, lock files in a scratch directory.
#include "tool_api/port_holders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "files.h"
#include "link/port_holders_posix.h"
#include "pty_pair.h"
#include "unlocked_port_user.h"

namespace arduino {
namespace {

using harness::PtyPair;
using harness::TempDir;
using harness::UnlockedPortUser;
using harness::WriteFile;

// A live process that holds nothing: a child blocked on a pipe until the
// object goes.
class Sleeper {
 public:
  Sleeper() {
    int wake[2];
    if (pipe(wake) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      close(wake[1]);
      char ignored;
      (void)!read(wake[0], &ignored, 1);
      _exit(0);
    }
    close(wake[0]);
    wake_ = wake[1];
  }
  ~Sleeper() { Stop(); }
  pid_t pid() const { return pid_; }
  void Stop() {
    if (wake_ < 0) return;
    close(wake_);
    waitpid(pid_, nullptr, 0);
    wake_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int wake_ = -1;
};

std::string HdbLock(int pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", pid);
  return text;
}

std::string BinaryLock(int pid) {
  const int32_t value = pid;
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

class PortHoldersTest : public ::testing::Test {
 protected:
  std::optional<PortHolder> Holder() { return FindPortHolder(board_.slave_path(), locks_.path()); }
  std::string LockPath() const { return locks_.File("LCK.." + FileName(board_.slave_path())); }

  PtyPair board_{5};
  TempDir locks_;
};

TEST_F(PortHoldersTest, AnotherProcessWithThePortOpenHoldsItUntilItEnds) {
  EXPECT_FALSE(Holder()) << "nobody has the slave open yet";
  UnlockedPortUser cat(board_.slave_path());
  const pid_t pid = cat.pid();
  std::optional<PortHolder> holder = Holder();
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->pid, pid);
  EXPECT_EQ(holder->program, "cat");
  EXPECT_EQ(holder->lock_file, "");

  // The same device under another name is the same port.
  const std::string link = locks_.File("link");
  ASSERT_EQ(symlink(board_.slave_path().c_str(), link.c_str()), 0);
  std::optional<PortHolder> through_link = FindPortHolder(link, locks_.path());
  ASSERT_TRUE(through_link);
  EXPECT_EQ(through_link->pid, pid);

  cat.Stop();
  EXPECT_FALSE(Holder());
}

// The scan reads every descriptor's link but examines only the files under
// /dev/.  A file elsewhere may sit on a share whose server is gone, where a
// stat would never come back; FIFOs and pipes are no ports either.
TEST_F(PortHoldersTest, OnlyFilesUnderDevAreExaminedInTheSearch) {
  const std::string plain = locks_.File("plain");
  WriteFile(plain, "x");
  const std::string fifo = locks_.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const int held[] = {open(plain.c_str(), O_RDONLY),
                      open(fifo.c_str(), O_RDWR | O_NONBLOCK),
                      open("/dev/null", O_RDONLY),
                      open(board_.slave_path().c_str(), O_RDWR | O_NOCTTY),
                      pipe_ends[0],
                      pipe_ends[1]};
  for (int fd : held) ASSERT_GE(fd, 0);
  Sleeper holder;  // has every one of them open, from the fork
  for (int fd : held) close(fd);

  std::vector<std::string> examined;
  auto recorder = [&examined](const std::string& link, struct stat* info) {
    // A process that ended since the scan read its link can be told no more.
    char target[PATH_MAX];
    const ssize_t got = readlink(link.c_str(), target, sizeof target);
    if (got > 0) examined.emplace_back(target, static_cast<size_t>(got));
    return StatOpenFile(link, info);
  };
  std::optional<PortHolder> found = FindPortHolder(board_.slave_path(), locks_.path(), recorder);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->pid, holder.pid());
  EXPECT_NE(std::find(examined.begin(), examined.end(), board_.slave_path()), examined.end());
  for (const std::string& target : examined) {
    EXPECT_TRUE(target.starts_with("/dev/")) << target << " was examined";
  }
}

TEST_F(PortHoldersTest, ThisProcessNeverHoldsAgainstItself) {
  const int fd = open(board_.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Holder());
  WriteFile(LockPath(), HdbLock(getpid()));
  EXPECT_FALSE(Holder()) << "our own lock file";
  close(fd);
}

TEST_F(PortHoldersTest, LockFilesOfLiveProcessesHoldAndStaleOrBrokenOnesDoNot) {
  Sleeper live;
  Sleeper gone;
  const pid_t gone_pid = gone.pid();
  gone.Stop();
  struct Case {
    const char* name;
    std::string contents;
    bool holds;
  };
  const Case kCases[] = {
      {"ascii, as minicom writes it", HdbLock(live.pid()), true},
      {"ascii without padding or line end", std::to_string(live.pid()), true},
      {"binary int", BinaryLock(live.pid()), true},
      {"ascii, process gone", HdbLock(gone_pid), false},
      {"binary, process gone", BinaryLock(gone_pid), false},
      {"empty", "", false},
      {"not a number", "minicom\n", false},
      {"digits then text", std::to_string(live.pid()) + " x\n", false},
      {"pid 0", HdbLock(0), false},
      {"negative binary", BinaryLock(-5), false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(LockPath(), c.contents);
    std::optional<PortHolder> holder = Holder();
    ASSERT_EQ(holder.has_value(), c.holds);
    if (!holder) continue;
    EXPECT_EQ(holder->pid, live.pid());
    EXPECT_EQ(holder->lock_file, LockPath());
    EXPECT_FALSE(holder->program.empty());
  }
}

TEST_F(PortHoldersTest, ALockUnderTheNameALinkGivesCountsToo) {
  Sleeper live;
  const std::string link = locks_.File("ttyBOARD");
  ASSERT_EQ(symlink(board_.slave_path().c_str(), link.c_str()), 0);
  const std::string lock = locks_.File("LCK..ttyBOARD");
  WriteFile(lock, HdbLock(live.pid()));
  std::optional<PortHolder> holder = FindPortHolder(link, locks_.path());
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->lock_file, lock);
  EXPECT_FALSE(Holder()) << "the device's own name has no lock";
}

TEST(PortHolderLookupTest, WhatIsNoCharacterDeviceHasNoHolder) {
  TempDir dir;
  WriteFile(dir.File("plain"), "x");
  EXPECT_FALSE(FindPortHolder(dir.File("plain"), dir.path()));
  EXPECT_FALSE(FindPortHolder(dir.File("missing"), dir.path()));
  EXPECT_FALSE(FindPortHolder("", dir.path()));
}

TEST(PortHolderLookupTest, DescriptionsNameProgramPidAndLockFile) {
  EXPECT_EQ(DescribePortHolder({1234, "cat", ""}), "cat (pid 1234)");
  EXPECT_EQ(DescribePortHolder({99, "minicom", "/var/lock/LCK..ttyACM0"}),
            "minicom (pid 99, lock file /var/lock/LCK..ttyACM0)");
  EXPECT_EQ(DescribePortHolder({99, "", ""}), "pid 99");
}

}  // namespace
}  // namespace arduino
