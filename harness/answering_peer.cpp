#include "udp_peer.h"

namespace harness {

AnsweringPeer::AnsweringPeer(Script script, int delay_ms)
    : script_(std::move(script)), delay_ms_(delay_ms), thread_([this] { Serve(); }) {}

AnsweringPeer::~AnsweringPeer() {
  stop_ = true;
  thread_.join();
}

std::vector<std::string> AnsweringPeer::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

void AnsweringPeer::Serve() {
  while (!stop_) {
    // A short wait, so that the destructor is never kept long.
    std::optional<Datagram> command = peer_.ReceiveFrom(milliseconds(20));
    if (!command) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(command->bytes);
    }
    std::optional<std::string> reply = script_(command->bytes);
    if (!reply) continue;
    if (delay_ms_ > 0) std::this_thread::sleep_for(milliseconds(delay_ms_.load()));
    peer_.SendTo(command->from_port, *reply);
  }
}

}  // namespace harness
