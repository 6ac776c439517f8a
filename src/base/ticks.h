// The millisecond tick counter of the bounded waits: a monotonic clock cut to
// 32 bits, so it wraps about every 49.7 days.  Elapsed time is always an
// unsigned 32-bit difference, which stays right across the wrap.
#pragma once

#include <cstdint>

namespace arduino {

using TickSource = uint32_t (*)();

uint32_t TickCount();
inline uint32_t TicksSince(uint32_t start) { return TickCount() - start; }

// Tests replace the clock to reach a wrap without waiting 49 days; nullptr
// restores the system clock.
void SetTickSource(TickSource source);

// The platform's monotonic clock, in milliseconds.
uint32_t SystemTickCount();

}  // namespace arduino
