// The emulators' pseudo-terminal on its own: it holds only the master, so
// the slave stays free for the block, and every wait still waits while no
// peer has the slave open.
#include "pty_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "files.h"

namespace boardsim {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The slave as the block opens it, closed when the object goes.
class Peer {
 public:
  explicit Peer(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~Peer() { Close(); }
  int fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int Unread() const {
    int count = -1;
    return ioctl(fd_, FIONREAD, &count) == 0 ? count : -1;
  }

 private:
  int fd_;
};

class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    std::optional<PtyLink> opened = PtyLink::Open(path_, &error);
    ASSERT_TRUE(opened) << error;
    pty_.emplace(std::move(*opened));
  }
  // Gives bytes written on one side time to reach the other's queue.
  static void Settle() { usleep(50 * 1000); }

  harness::TempDir dir_;
  std::string path_ = dir_.File("tty");
  std::optional<PtyLink> pty_;
};

TEST_F(PtyLinkTest, OnlyTheMasterIsHeldAndThePeerFindsTheLineRaw) {
  EXPECT_EQ(std::filesystem::read_symlink(path_).string(), pty_->slave_name());
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    EXPECT_NE(std::filesystem::read_symlink(entry.path(), error).string(), pty_->slave_name())
        << "the slave is held by " << entry.path();
  }
  Peer peer(path_);
  ASSERT_GE(peer.fd(), 0);
  termios settings{};
  ASSERT_EQ(tcgetattr(peer.fd(), &settings), 0);
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(settings.c_oflag & OPOST);
}

TEST_F(PtyLinkTest, ThePeersLineSettingsOutliveItsDescriptorAndShowOnTheMaster) {
  {
    Peer peer(path_);
    termios settings{};
    ASSERT_EQ(tcgetattr(peer.fd(), &settings), 0);
    cfsetspeed(&settings, B115200);
    ASSERT_EQ(tcsetattr(peer.fd(), TCSANOW, &settings), 0);
  }
  termios seen{};
  ASSERT_EQ(tcgetattr(pty_->fd(), &seen), 0);
  EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B115200));
  Peer later(path_);
  ASSERT_EQ(tcgetattr(later.fd(), &seen), 0);
  EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B115200));
}

TEST_F(PtyLinkTest, TheLinesBaudRateIsTheSpeedThePeerSetReadOnTheMaster) {
  Peer peer(path_);
  ASSERT_GE(peer.fd(), 0);
  for (const auto& [constant, baud] :
       {std::pair{B19200, 19200}, std::pair{B115200, 115200}, std::pair{B9600, 9600}}) {
    termios settings{};
    ASSERT_EQ(tcgetattr(peer.fd(), &settings), 0);
    cfsetspeed(&settings, constant);
    ASSERT_EQ(tcsetattr(peer.fd(), TCSANOW, &settings), 0);
    EXPECT_EQ(pty_->LineBaudRate(), std::optional<int32_t>(baud));
  }
  peer.Close();
  EXPECT_EQ(pty_->LineBaudRate(), std::optional<int32_t>(9600)) << "kept with the pair";
}

TEST_F(PtyLinkTest, WaitForInputWaitsTheWholeTimeWithoutAPeerAndWakesForBytes) {
  // Never opened, and opened then closed: the second is when the master
  // reports a hang-up that a plain poll would return at once for.
  for (bool after_a_peer : {false, true}) {
    SCOPED_TRACE(after_a_peer ? "after a peer left" : "before any peer");
    if (after_a_peer) Peer(path_).Close();
    const auto start = Clock::now();
    pty_->WaitForInput(300);
    EXPECT_GE(MsSince(start), 250);
  }
  Peer peer(path_);
  ASSERT_EQ(write(peer.fd(), "?02s?", 5), 5);
  const auto start = Clock::now();
  pty_->WaitForInput(5'000);
  EXPECT_LT(MsSince(start), 2'500) << "bytes from the peer end the wait";
  std::string bytes;
  pty_->Read(&bytes);
  EXPECT_EQ(bytes, "?02s?");
}

TEST_F(PtyLinkTest, DiscardUnreadDropsWhatThePeerHasNotReadAndKeepsWhatItSent) {
  std::string error;
  Peer peer(path_);
  ASSERT_TRUE(pty_->Write("OK\r\n", &error)) << error;
  ASSERT_EQ(write(peer.fd(), "!02mo", 5), 5);
  Settle();
  ASSERT_EQ(peer.Unread(), 4);
  pty_->DiscardUnread();
  EXPECT_EQ(peer.Unread(), 0);
  std::string bytes;
  pty_->Read(&bytes);
  EXPECT_EQ(bytes, "!02mo");

  // Written while nobody had the port open, the bytes would greet the next
  // program to open it.
  peer.Close();
  ASSERT_TRUE(pty_->Write("LOW\r\n", &error)) << error;
  Settle();
  pty_->DiscardUnread();
  Peer next(path_);
  Settle();
  EXPECT_EQ(next.Unread(), 0);
}

// The queue is emptied on the slave's side, so the line keeps every setting
// the peer made, a speed it set a moment before included.
TEST_F(PtyLinkTest, DiscardUnreadLeavesThePeersSettingsAsTheyAre) {
  std::string error;
  Peer peer(path_);
  termios set{};
  ASSERT_EQ(tcgetattr(peer.fd(), &set), 0);
  cfmakeraw(&set);
  cfsetspeed(&set, B19200);
  set.c_cflag |= CSTOPB;
  ASSERT_EQ(tcsetattr(peer.fd(), TCSANOW, &set), 0);
  ASSERT_TRUE(pty_->Write("stale\r\n", &error)) << error;
  Settle();
  EXPECT_TRUE(pty_->DiscardUnread()) << "emptied through the slave";
  EXPECT_EQ(peer.Unread(), 0);
  termios after{};
  ASSERT_EQ(tcgetattr(peer.fd(), &after), 0);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B19200));
  EXPECT_EQ(after.c_cflag, set.c_cflag);
  EXPECT_EQ(after.c_iflag, set.c_iflag);
  EXPECT_EQ(after.c_lflag, set.c_lflag);
  EXPECT_FALSE(pty_->DiscardUnread()) << "nothing written since: nothing to do";
}

TEST_F(PtyLinkTest, WaitUntilReadEndsWhenThePeerLeavesElseAtItsLimit) {
  Peer peer(path_);
  auto start = Clock::now();
  pty_->WaitUntilRead(300);
  EXPECT_GE(MsSince(start), 250) << "the master cannot tell what the peer read";
  peer.Close();
  start = Clock::now();
  pty_->WaitUntilRead(5'000);
  EXPECT_LT(MsSince(start), 2'500) << "nobody is left to read";
}

}  // namespace
}  // namespace boardsim
