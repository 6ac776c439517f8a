// Counts the C library's calls that enter the kernel on the way of an
// exchange: sending, waiting and reading.  The bench executable defines
// these functions itself and exports them, so that the block library and
// GLib, loaded after it, call them in place of the C library's own, which
// they then call.  Each thread counts its own calls, so the harness's
// threads that watch a child's output count nowhere.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "call_kind.h"

namespace bench {

struct CallCounts {
  std::array<uint64_t, static_cast<size_t>(Call::kCount)> by_kind{};

  uint64_t Total() const;
  CallCounts operator-(const CallCounts& earlier) const;
  CallCounts& operator+=(const CallCounts& more);
  // "sendto 1, poll 1, recvfrom 1" per `exchanges`, the kinds that occurred
  // only, each to a hundredth.
  std::string PerExchange(uint64_t exchanges) const;
};

// The calling thread's calls so far.
CallCounts CountedCalls();

// Whether the counting functions are the ones the process calls: false when
// the executable was linked without exporting them.
bool CountingWorks();

}  // namespace bench
