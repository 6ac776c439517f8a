// What avrboard takes from its pseudo-terminal in one look: a program that
// sets its speed (and opens the port) and writes at once, just as the look
// begins, has its bytes paired with that speed and that open, never with
// what the line held before.
#include "terminal_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "files.h"
#include "line_watch.h"
#include "pty_link.h"

namespace avrboard {
namespace {

// Sets the line's speed both ways on either end of the pair, which share
// one set of line settings.
void SetSpeed(int fd, speed_t speed) {
  termios settings{};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
}

// The program at the port: the slave as the block opens it.
class Program {
 public:
  ~Program() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd_, 0) << path;
  }
  void SetSpeed(speed_t speed) { avrboard::SetSpeed(fd_, speed); }
  void Write(const std::string& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int fd_ = -1;
};

// avrboard's own terminal, with the program acting the moment the look
// starts to read: the latest a byte can be written and still be read by
// this look.  A look that took the speed or the opens before its read
// would take them from before the program acted.
class ProgramActsAtTheRead : public Terminal {
 public:
  ProgramActsAtTheRead(PtyTerminal* terminal, int master_fd, std::function<void()> act)
      : terminal_(terminal), master_fd_(master_fd), act_(std::move(act)) {}
  void Read(std::string* bytes) override {
    if (act_) {
      act_();
      act_ = nullptr;
      // The bytes cross the pair on the kernel's time: the read waits
      // until they are there, so that the look does not miss them.
      pollfd watch{master_fd_, POLLIN, 0};
      EXPECT_EQ(poll(&watch, 1, 10'000), 1) << "the program's bytes never reached the master";
    }
    terminal_->Read(bytes);
  }
  bool Opened() override { return terminal_->Opened(); }
  double Baud() override { return terminal_->Baud(); }

 private:
  PtyTerminal* terminal_;
  int master_fd_;
  std::function<void()> act_;
};

struct Act {
  const char* name;
  bool opens_at_the_read;  // otherwise the program holds the port already
  speed_t speed_before;    // the line's speed at the look before, as the
                           // last program left it
  speed_t speed_at_the_read;
  double baud_before;  // what the look before sees, while the program holds the port
  double baud;         // what the look must pair the bytes with
};

void PrintTo(const Act& act, std::ostream* out) { *out << act.name; }

class TerminalInputTest : public testing::TestWithParam<Act> {
 protected:
  void SetUp() override {
    std::string error;
    std::optional<boardsim::PtyLink> opened = boardsim::PtyLink::Open(path_, &error);
    ASSERT_TRUE(opened) << error;
    pty_.emplace(std::move(*opened));
    ASSERT_TRUE(line_.Start(pty_->slave_name(), &error)) << error;
  }

  harness::TempDir dir_;
  std::string path_ = dir_.File("tty");
  std::optional<boardsim::PtyLink> pty_;
  LineWatch line_;
  Program program_;
};

TEST_P(TerminalInputTest, PairsTheBytesWithTheSpeedAndTheOpenBeforeTheirWriting) {
  const Act& act = GetParam();
  PtyTerminal terminal(&*pty_, &line_);
  SetSpeed(pty_->fd(), act.speed_before);
  if (!act.opens_at_the_read) program_.Open(path_);
  // The look before: no bytes yet, and the line's speed known only while
  // somebody has the port open.
  const TerminalInput before = TakeInput(&terminal);
  EXPECT_EQ(before.bytes, "");
  EXPECT_EQ(before.opened, !act.opens_at_the_read);
  EXPECT_EQ(before.baud, act.opens_at_the_read ? 0 : act.baud_before);

  const std::string command = "?14s?";
  ProgramActsAtTheRead acting(&terminal, pty_->fd(), [&] {
    if (act.opens_at_the_read) program_.Open(path_);
    program_.SetSpeed(act.speed_at_the_read);
    program_.Write(command);
  });
  const TerminalInput input = TakeInput(&acting);
  EXPECT_EQ(input.bytes, command);
  EXPECT_EQ(input.opened, act.opens_at_the_read);
  EXPECT_EQ(input.baud, act.baud);
}

// avrboard's own open of the slave, to empty its queue, is no program's:
// it neither counts as an open nor as a holder, and the program that has
// the port keeps it.
TEST_F(TerminalInputTest, AvrboardsOwnOpenToEmptyTheLineIsNoProgramsOpen) {
  program_.Open(path_);
  EXPECT_TRUE(line_.Update());
  EXPECT_TRUE(line_.InUse());
  std::string error;
  ASSERT_TRUE(pty_->Write("stale\r\n", &error)) << error;
  usleep(50 * 1000);
  ASSERT_TRUE(pty_->DiscardUnread());
  line_.OwnOpenFollows();
  EXPECT_FALSE(line_.Update()) << "avrboard's own open counted as a program's";
  EXPECT_TRUE(line_.InUse()) << "avrboard's own close ended the program's use";
  program_.Close();
  line_.Update();
  EXPECT_FALSE(line_.InUse());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminalInputTest,
    testing::Values(
        // blockhost flash asks a just-flashed board for its address as soon
        // as it has the port at 9600, where a new pseudo-terminal has 38400.
        Act{"SetsItsSpeedAndWritesAtOnce", false, B38400, B9600, 38400, 9600},
        // A block at another speed than the last one's.
        Act{"ChangesItsSpeedAndWritesAtOnce", false, B115200, B9600, 115200, 9600},
        // The open resets the Uno, and its bytes go to the reset board.
        Act{"OpensSetsItsSpeedAndWritesAtOnce", true, B115200, B19200, 0, 19200}),
    [](const testing::TestParamInfo<Act>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace avrboard
