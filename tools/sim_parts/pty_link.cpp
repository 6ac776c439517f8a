#include "pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tool_api/serial_speed_posix.h"

namespace boardsim {

std::optional<PtyLink> PtyLink::Open(const std::string& link_path, std::string* error) {
  auto fail = [&](const std::string& what, int master) {
    *error = what + ": " + std::strerror(errno);
    if (master >= 0) close(master);
    return std::nullopt;
  };

  struct stat existing {};
  if (lstat(link_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    *error = "'" + link_path + "' exists and is not a symlink; refusing to replace it";
    return std::nullopt;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return fail("posix_openpt", -1);
  if (grantpt(master) != 0 || unlockpt(master) != 0) return fail("grantpt/unlockpt", master);
  const char* name = ptsname(master);
  if (name == nullptr) return fail("ptsname", master);
  std::string slave_name = name;

  // On Linux the master's terminal calls act on the settings of the slave
  // side, so raw mode is in place before any peer opens the slave.
  termios settings{};
  if (tcgetattr(master, &settings) != 0) return fail("tcgetattr", master);
  cfmakeraw(&settings);
  if (tcsetattr(master, TCSANOW, &settings) != 0) return fail("tcsetattr", master);
  if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    return fail("fcntl", master);
  }

  unlink(link_path.c_str());
  if (symlink(slave_name.c_str(), link_path.c_str()) != 0) {
    return fail("symlink " + link_path, master);
  }
  return PtyLink(master, std::move(slave_name), link_path);
}

PtyLink::PtyLink(PtyLink&& other) noexcept
    : master_(other.master_),
      written_since_discard_(other.written_since_discard_),
      slave_name_(std::move(other.slave_name_)),
      link_path_(std::move(other.link_path_)) {
  other.master_ = -1;
  other.link_path_.clear();
}

PtyLink::~PtyLink() {
  if (!link_path_.empty()) unlink(link_path_.c_str());
  if (master_ >= 0) close(master_);
}

void PtyLink::Read(std::string* bytes) {
  char buffer[512];
  while (true) {
    // EIO here is no peer on the slave, as EAGAIN is a silent one.
    const ssize_t got = read(master_, buffer, sizeof(buffer));
    if (got <= 0) return;
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

bool PtyLink::Write(const std::string& bytes, std::string* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(master_, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      // EAGAIN means nobody has read the last few kilobytes of replies; the
      // reply is lost just as it would be on a real line with no listener.
      *error = std::string("write to pty: ") + std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(wrote);
    written_since_discard_ = true;
  }
  return true;
}

std::optional<int32_t> PtyLink::LineBaudRate() const {
  termios settings{};
  if (tcgetattr(master_, &settings) != 0) return std::nullopt;
  return arduino::BaudRateOf(cfgetospeed(&settings));
}

void PtyLink::WaitForInput(int timeout_ms) const {
  pollfd watch{master_, POLLIN, 0};
  const auto start = std::chrono::steady_clock::now();
  if (poll(&watch, 1, timeout_ms) <= 0 || !NoPeer(watch.revents)) return;
  const auto end = start + std::chrono::milliseconds(timeout_ms);
  std::this_thread::sleep_until(end);
}

bool PtyLink::DiscardUnread() {
  if (!written_since_discard_) return false;
  written_since_discard_ = false;
  // The queue is the slave's input, and a flush there changes no setting of
  // the line.  (A flush on the master empties only the master's own side.)
  const int slave = open(slave_name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave >= 0) {
    (void)tcflush(slave, TCIFLUSH);
    close(slave);
    return true;
  }
  // A peer that holds the port exclusively (TIOCEXCL) keeps out everyone but
  // root.  Then a flushing tcsetattr on the master empties the queue; it also
  // writes back the settings it read just before, so a speed the peer sets in
  // that moment would be lost, which is why the slave comes first.
  termios settings{};
  if (tcgetattr(master_, &settings) == 0) (void)tcsetattr(master_, TCSAFLUSH, &settings);
  return false;
}

void PtyLink::WaitUntilRead(int max_wait_ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_wait_ms);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    // Without POLLIN asked for, the poll ends only when the peer closes.
    pollfd watch{master_, 0, 0};
    const int ready = poll(&watch, 1, static_cast<int>(left.count()));
    if (ready > 0 || (ready < 0 && errno != EINTR)) return;
  }
}

}  // namespace boardsim
