#include "board_port.h"

#include <utility>

namespace blockhost {

std::optional<BoardPort> BoardPort::Open(const std::string& device, int32_t baud_rate,
                                         std::string* error) {
  std::optional<Handle> handle = PlatformOpen(device, baud_rate, error);
  if (!handle) return std::nullopt;
  return BoardPort(*handle);
}

BoardPort::BoardPort(BoardPort&& other) noexcept
    : handle_(other.handle_),
      open_(std::exchange(other.open_, false)),
      pending_(std::move(other.pending_)) {}

BoardPort::~BoardPort() {
  if (open_) PlatformClose(handle_);
}

bool BoardPort::WriteLine(const std::string& line) { return PlatformWrite(handle_, line + "\n"); }

std::optional<std::string> BoardPort::ReadLine(milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (true) {
    // CR, LF or both end a line; what lies between two of them is a line
    // only when it holds something.
    size_t end;
    while ((end = pending_.find_first_of("\r\n")) != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty()) return line;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    char buffer[256];
    const int count = PlatformRead(handle_, buffer, sizeof buffer, left);
    if (count < 0) return std::nullopt;
    pending_.append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace blockhost
