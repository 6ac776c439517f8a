#include "base/ticks.h"

namespace arduino {
namespace {
TickSource g_tick_source = nullptr;
}

uint32_t TickCount() { return g_tick_source ? g_tick_source() : SystemTickCount(); }

void SetTickSource(TickSource source) { g_tick_source = source; }

}  // namespace arduino
