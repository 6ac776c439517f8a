// How long the block waits on its board: for each reply, and after opening a
// serial port.  Kept apart from the links themselves so that a host-side tool
// can plan with the same numbers without taking in a link.
#pragma once

#include <cstdint>

namespace arduino {

constexpr uint32_t kUdpReplyWaitMs = 100;
constexpr uint32_t kSerialReplyWaitMs = 1000;
// Opening the port resets most boards (the bootloader runs on a DTR edge or
// on power-up of the USB bridge); the pause lets the sketch come up before
// the first command.
constexpr uint32_t kSerialOpenPauseMs = 2000;

}  // namespace arduino
