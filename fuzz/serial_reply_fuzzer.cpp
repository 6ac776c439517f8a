// The serial reply assembly over arbitrary byte streams, with a fake port in
// place of the termios one and a clock that advances with every read, so a
// stream without line feeds still ends each wait quickly.  Checked against
// a plain model: each reply is the bytes before the next line feed, less the
// bytes 0 to 13.
#include <cstdlib>
#include <string>

#include "base/ticks.h"
#include "block/user_data.h"
#include "link/serial.h"

namespace {

const uint8_t* g_data;
size_t g_size;
size_t g_next;
uint32_t g_now;

uint32_t FakeTicks() { return g_now; }

}  // namespace

namespace arduino {

PortOpenResult PlatformOpenPort(const std::string&) { return {true, 1}; }
void PlatformConfigurePort(PortHandle, int32_t) {}
void PlatformClosePort(PortHandle) {}
WriteOutcome PlatformWriteByte(PortHandle, uint8_t) { return WriteOutcome::kWritten; }
void PlatformPause(uint32_t) {}
ReadOutcome PlatformReadByte(PortHandle, uint8_t& byte) {
  g_now += 7;  // a little over the 1000 ms limit after 143 reads
  if (g_next >= g_size) return ReadOutcome::kTimeout;
  byte = g_data[g_next++];
  return ReadOutcome::kByte;
}

}  // namespace arduino

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool opened = [] {
    arduino::SetTickSource(FakeTicks);
    arduino::TUserData settings;
    settings.ComPort = 1;
    arduino::OpenSerialLink(settings);
    return arduino::SerialHandleState() == arduino::SerialState::kOpen;
  }();
  if (!opened) std::abort();
  g_data = data;
  g_size = size;
  g_next = 0;
  while (g_next < size) {
    size_t first = g_next;
    std::string reply = arduino::SerialReceiveReply(g_now);
    std::string expected;
    size_t i = first;
    for (; i < g_next; ++i) {
      if (data[i] == 10) break;
      if (data[i] > 13) expected += static_cast<char>(data[i]);
    }
    // A wait ends right after a line feed or, without one, after its limit.
    if (i < g_next && i + 1 != g_next) std::abort();
    if (reply != expected) std::abort();
  }
  return 0;
}
