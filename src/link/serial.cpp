#include "link/serial.h"

#include <algorithm>
#include <utility>

#include "base/application.h"
#include "base/convert.h"
#include "base/ticks.h"
#include "block/user_data.h"

namespace arduino {
namespace {

struct SerialHandle {
  SerialState state = SerialState::kNotSet;
  PortHandle port = 0;
};

SerialHandle g_serial;
OpenPause g_open_pause = &PlatformPause;

}  // namespace

bool ProbeComPort(int32_t port) {
  PortOpenResult opened = PlatformOpenPort(ComDeviceName(port));
  if (!opened.ok) return false;
  PlatformClosePort(opened.handle);
  return true;
}

void OpenSerialLink(const TUserData& block) {
  // A port already held serves every block, whatever its own settings; a
  // failed open is not retried until the end of the run.
  if (g_serial.state != SerialState::kNotSet) return;
  PortOpenResult opened = PlatformOpenPort(ComDeviceName(block.ComPort));
  g_serial = {opened.ok ? SerialState::kOpen : SerialState::kFailed, opened.handle};
  if (opened.ok) PlatformConfigurePort(g_serial.port, block.BaudRate);
  g_open_pause(kSerialOpenPauseMs);
}

OpenPause ReplaceOpenPause(OpenPause pause) { return std::exchange(g_open_pause, pause); }

void CloseSerialLink() {
  if (g_serial.state == SerialState::kOpen) PlatformClosePort(g_serial.port);
  ResetSerialHandle();
}

void ResetSerialHandle() { g_serial = {}; }

SerialState SerialHandleState() { return g_serial.state; }

void SerialSendCommand(std::string_view command) {
  // One write per byte, the handle taken afresh each time: a pump pass run
  // by some other wait may have closed or opened the port in between.  A
  // byte that fails is not written again.  Only a port that has had no room
  // for a byte ends the command: the board has stopped reading, and every
  // further byte would wait in vain too.
  for (char c : command) {
    if (g_serial.state != SerialState::kOpen) continue;
    if (PlatformWriteByte(g_serial.port, static_cast<uint8_t>(c)) == WriteOutcome::kNoRoom) return;
  }
}

std::string SerialReceiveReply(uint32_t start) {
  std::string reply;
  TApplication& application = Application();
  while (true) {
    uint8_t b = 0;
    ReadOutcome outcome = ReadOutcome::kFailed;
    if (g_serial.state == SerialState::kOpen) outcome = PlatformReadByte(g_serial.port, b);
    if (outcome == ReadOutcome::kByte && b > kHighestDroppedByte) reply += static_cast<char>(b);
    application.ProcessMessages();
    if (outcome == ReadOutcome::kByte && b == kReplyEnd) break;
    uint32_t elapsed = TicksSince(start);
    if (elapsed > kSerialReplyWaitMs) break;
    // Without a port, or with one that fails at once (unplugged), the read
    // takes no time; sleeping in the pump for the read's time-out keeps the
    // loop from spinning while every other pass still happens.
    if (outcome == ReadOutcome::kFailed) {
      application.WaitForMessage(std::min(kSerialReadTimeoutMs, kSerialReplyWaitMs + 1 - elapsed));
    }
  }
  application.RestoreHostState();
  return reply;
}

}  // namespace arduino
