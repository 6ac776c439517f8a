// The functions the bench counts are defined in call_counter_calls.cpp,
// away from the system's headers, whose declarations of them (inline
// fortified wrappers among them) would clash with the definitions.
#include <dlfcn.h>
#include <poll.h>

#include <cstdio>
#include <iterator>

#include "call_counter.h"

namespace bench {
namespace {

thread_local CallCounts counts;

constexpr const char* kNames[] = {"send", "sendto", "recv", "recvfrom", "recvmmsg",
                                  "poll", "select", "read", "write"};
static_assert(std::size(kNames) == static_cast<size_t>(Call::kCount));

}  // namespace

void Count(Call call) { ++counts.by_kind[static_cast<size_t>(call)]; }

uint64_t CallCounts::Total() const {
  uint64_t total = 0;
  for (uint64_t n : by_kind) total += n;
  return total;
}

CallCounts CallCounts::operator-(const CallCounts& earlier) const {
  CallCounts out;
  for (size_t i = 0; i < by_kind.size(); ++i) out.by_kind[i] = by_kind[i] - earlier.by_kind[i];
  return out;
}

CallCounts& CallCounts::operator+=(const CallCounts& more) {
  for (size_t i = 0; i < by_kind.size(); ++i) by_kind[i] += more.by_kind[i];
  return *this;
}

std::string CallCounts::PerExchange(uint64_t exchanges) const {
  std::string out;
  for (size_t i = 0; i < by_kind.size(); ++i) {
    if (by_kind[i] == 0) continue;
    char part[64];
    std::snprintf(part, sizeof part, "%s%s %.2f", out.empty() ? "" : ", ", kNames[i],
                  static_cast<double>(by_kind[i]) / static_cast<double>(exchanges ? exchanges : 1));
    out += part;
  }
  return out.empty() ? "none" : out;
}

CallCounts CountedCalls() { return counts; }

bool CountingWorks() {
  // A poll of nothing that returns at once, looked up the way a shared
  // library finds it: through the process's global symbols.
  auto* global_poll = reinterpret_cast<int (*)(pollfd*, nfds_t, int)>(dlsym(RTLD_DEFAULT, "poll"));
  const uint64_t before = counts.by_kind[static_cast<size_t>(Call::kPoll)];
  global_poll(nullptr, 0, 0);
  return counts.by_kind[static_cast<size_t>(Call::kPoll)] == before + 1;
}

}  // namespace bench
