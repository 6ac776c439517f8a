// The pump and the clock of the i386 build.  A pass runs everything queued,
// arrivals and host code, in the order queued; host code under the host's
// floating-point state, as the platforms' pumps run it.  A sleep with
// nothing queued moves the clock by its whole time-out: nothing can arrive
// later that has not arrived already.
#include <deque>
#include <utility>

#include "base/application.h"
#include "base/float_state.h"
#include "base/ticks.h"
#include "fake_platform.h"

namespace arduino {
namespace {

struct Queued {
  bool host_code;
  std::function<void()> run;
};

std::deque<Queued> g_queue;
uint32_t g_now = 1000;

void RunQueued() {
  while (!g_queue.empty()) {
    Queued next = std::move(g_queue.front());
    g_queue.pop_front();
    if (next.host_code) {
      HostCodeScope host_code;
      next.run();
    } else {
      next.run();
    }
  }
}

}  // namespace

namespace fakes {

void PostHostCode(std::function<void()> code) { g_queue.push_back({true, std::move(code)}); }
void PostArrival(std::function<void()> deliver) { g_queue.push_back({false, std::move(deliver)}); }
uint32_t Now() { return g_now; }

}  // namespace fakes

void TApplication::ProcessMessages() { RunQueued(); }
void TApplication::DispatchReady() { RunQueued(); }

bool TApplication::WaitForMessage(uint32_t timeout_ms) {
  if (g_queue.empty()) g_now += timeout_ms;
  return false;
}

const bool TApplication::kFirstSleepCoversAPass = true;
void TApplication::RestoreHostState() {}
void TApplication::ShowCursor(int) {}

uint32_t SystemTickCount() { return g_now; }

}  // namespace arduino
