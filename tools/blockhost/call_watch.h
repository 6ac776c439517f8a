// Keeps the user informed while a library call keeps the board waiting.  A
// call blocks blockhost's own thread for as long as the block waits for its
// board, up to seconds a step, so only a thread of its own can speak
// meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace blockhost {

class CallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // `late` runs when a call is still under way at the point given to Begin;
  // `heartbeat` every `beat` of a call, with how long it has taken so far.
  // Both run on the watch's thread, only while a call is under way, and End
  // waits for one that has begun.
  CallWatch(Clock::duration beat, std::function<void()> late,
            std::function<void(Clock::duration)> heartbeat);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // A call begins; `late_after`, if given, is when it counts as late.  The
  // heartbeats start after `quiet` more than usual: a wait the user has been
  // told about needs none.
  void Begin(std::optional<Clock::duration> late_after, Clock::duration quiet = {});
  // The call has returned: nothing more is said about it.
  void End();

 private:
  void Watch();

  const Clock::duration beat_;
  const std::function<void()> late_;
  const std::function<void(Clock::duration)> heartbeat_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  bool active_ = false;
  Clock::time_point begun_;
  Clock::duration quiet_{};
  std::optional<Clock::time_point> late_at_;  // until the late call is told
  long beats_ = 0;                            // heartbeats of this call so far
  std::thread thread_;                        // last: it starts on the members above
};

}  // namespace blockhost
