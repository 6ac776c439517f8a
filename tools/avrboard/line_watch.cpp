#include "line_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace avrboard {

bool LineWatch::Start(const std::string& device, std::string* error) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0 || inotify_add_watch(fd_, device.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    *error = "cannot watch " + device + " for opens: " + std::strerror(errno);
    return false;
  }
  return true;
}

LineWatch::~LineWatch() {
  if (fd_ >= 0) close(fd_);
}

bool LineWatch::Update() {
  bool opened = false;
  alignas(inotify_event) char buffer[4096];
  while (true) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) return opened;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_OPEN) && own_opens_ > 0) {
        --own_opens_;
      } else if (event->mask & IN_OPEN) {
        ++holders_;
        opened = true;
      }
      // A close whose open came before the watch cannot push the count
      // below zero.
      if ((event->mask & IN_CLOSE) && own_closes_ > 0) {
        --own_closes_;
      } else if ((event->mask & IN_CLOSE) && holders_ > 0) {
        --holders_;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace avrboard
