#include "call_watch.h"

#include <algorithm>

namespace blockhost {

CallWatch::CallWatch(Clock::duration beat, std::function<void()> late,
                     std::function<void(Clock::duration)> heartbeat)
    : beat_(beat),
      late_(std::move(late)),
      heartbeat_(std::move(heartbeat)),
      thread_([this] { Watch(); }) {}

CallWatch::~CallWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void CallWatch::Begin(std::optional<Clock::duration> late_after, Clock::duration quiet) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = true;
    begun_ = Clock::now();
    quiet_ = quiet;
    late_at_.reset();
    if (late_after) late_at_ = begun_ + *late_after;
    beats_ = 0;
  }
  wake_.notify_one();
}

void CallWatch::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = false;
}

void CallWatch::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!active_) {
      wake_.wait(lock);
      continue;
    }
    // The callbacks run with the lock held, so End cannot return while one
    // is still speaking about a call that has ended.
    const Clock::time_point next_beat = begun_ + quiet_ + (beats_ + 1) * beat_;
    const Clock::time_point next = late_at_ ? std::min(*late_at_, next_beat) : next_beat;
    wake_.wait_until(lock, next);
    if (quit_ || !active_) continue;
    const Clock::time_point now = Clock::now();
    if (late_at_ && now >= *late_at_) {
      late_at_.reset();
      late_();
    }
    if (now >= begun_ + quiet_ + (beats_ + 1) * beat_) {
      ++beats_;
      heartbeat_(now - begun_);
    }
  }
}

}  // namespace blockhost
