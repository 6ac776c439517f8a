#include "pty_link.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace boardsim {

std::optional<PtyLink> PtyLink::Open(const std::string& link_path, std::string* error) {
  auto fail = [&](const std::string& what, int master, int slave) {
    *error = what + ": " + std::strerror(errno);
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
    return std::nullopt;
  };

  struct stat existing {};
  if (lstat(link_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    *error = "'" + link_path + "' exists and is not a symlink; refusing to replace it";
    return std::nullopt;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return fail("posix_openpt", -1, -1);
  if (grantpt(master) != 0 || unlockpt(master) != 0) return fail("grantpt/unlockpt", master, -1);
  const char* name = ptsname(master);
  if (name == nullptr) return fail("ptsname", master, -1);
  std::string slave_name = name;

  const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return fail("open " + slave_name, master, -1);
  termios settings{};
  if (tcgetattr(slave, &settings) != 0) return fail("tcgetattr", master, slave);
  cfmakeraw(&settings);
  if (tcsetattr(slave, TCSANOW, &settings) != 0) return fail("tcsetattr", master, slave);
  if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    return fail("fcntl", master, slave);
  }

  unlink(link_path.c_str());
  if (symlink(slave_name.c_str(), link_path.c_str()) != 0) {
    return fail("symlink " + link_path, master, slave);
  }
  return PtyLink(master, slave, std::move(slave_name), link_path);
}

PtyLink::PtyLink(PtyLink&& other) noexcept
    : master_(other.master_),
      slave_(other.slave_),
      slave_name_(std::move(other.slave_name_)),
      link_path_(std::move(other.link_path_)) {
  other.master_ = -1;
  other.slave_ = -1;
  other.link_path_.clear();
}

PtyLink::~PtyLink() {
  if (!link_path_.empty()) unlink(link_path_.c_str());
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

void PtyLink::Read(std::string* bytes) {
  char buffer[512];
  while (true) {
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
  }
  return true;
}

void PtyLink::DiscardUnread() { tcflush(slave_, TCIFLUSH); }

void PtyLink::WaitUntilRead(int max_wait_ms) {
  // Replies written to the master wait in the slave's input queue, which the
  // slave end we hold can measure.  The kernel moves written bytes into that
  // queue a moment later, so an empty queue right after a write proves
  // nothing; give the transfer a head start first.
  constexpr int kTransferMs = 50;
  std::this_thread::sleep_for(std::chrono::milliseconds(kTransferMs));
  for (int waited_ms = kTransferMs; waited_ms < max_wait_ms; waited_ms += 5) {
    int unread = 0;
    if (ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace boardsim
