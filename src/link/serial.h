// The serial link: one COM port for the whole library, shared by all its
// blocks.  It is thin on purpose: no buffering of its own and no error
// reporting, so a board that cannot be reached looks like a board that never
// answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/link_waits.h"
#include "link/port_names.h"

namespace arduino {

struct TUserData;

constexpr uint32_t kSerialReadTimeoutMs = 10;
// The port takes bytes into a buffer of some kilobytes and sends them at the
// line's pace, so in use there is always room.  A full buffer means the board
// has stopped reading; waiting for room longer than this would let such a
// board block the host for good.
constexpr uint32_t kSerialWriteTimeoutMs = 100;
constexpr uint8_t kHighestDroppedByte = 13;
constexpr uint8_t kReplyEnd = 10;  // line feed

// The library's one port.  The three states must stay distinguishable: a
// valid handle never reads as "not set".
enum class SerialState { kNotSet, kOpen, kFailed };

// Opens the port exclusively and closes it again at once; true if it opened.
bool ProbeComPort(int32_t port);
// Opens and configures the block's port unless the library's port is already
// open or failed, then pauses, also after a failed open.
void OpenSerialLink(const TUserData& block);
// What OpenSerialLink calls for its pause: PlatformPause unless replaced.
// Only tests replace it, to skip a pause that a pseudo-terminal board does
// not need; nothing in the library does, so a host always gets the pause.
using OpenPause = void (*)(uint32_t ms);
// Puts `pause` in place of the current one and returns that one.
OpenPause ReplaceOpenPause(OpenPause pause);
// Closes an open port; in every state the handle ends "not set".
void CloseSerialLink();
// Puts the handle in "not set" without touching any port (library load).
void ResetSerialHandle();
SerialState SerialHandleState();

// Writes the command one byte per write call, nothing added.  The outcome of
// a write is not examined, except that a port with no room left ends the
// command there.
void SerialSendCommand(std::string_view command);
// Reads one reply line: bytes 0 to 13 dropped, ended by a line feed or by
// more than kSerialReplyWaitMs since `start`; at least one read.
std::string SerialReceiveReply(uint32_t start);

// The platform's part.  A PortHandle is only meaningful in state kOpen.
using PortHandle = intptr_t;
struct PortOpenResult {
  bool ok;
  PortHandle handle;
};
PortOpenResult PlatformOpenPort(const std::string& device_name);
void PlatformConfigurePort(PortHandle port, int32_t baud_rate);
void PlatformClosePort(PortHandle port);
// Writes one byte.  kNoRoom, where the platform can tell, means the port had
// no room for it within kSerialWriteTimeoutMs: the board has stopped reading.
enum class WriteOutcome { kWritten, kFailed, kNoRoom };
WriteOutcome PlatformWriteByte(PortHandle port, uint8_t byte);
enum class ReadOutcome { kByte, kTimeout, kFailed };
// Waits at most kSerialReadTimeoutMs for one byte.
ReadOutcome PlatformReadByte(PortHandle port, uint8_t& byte);
void PlatformPause(uint32_t ms);

}  // namespace arduino
