// The block's settings in the host's project file: 19 text lines, each ended
// by CR LF, written and read at the file's current position with nothing
// around them, so the host finds them only by calling us in the same order
// on saving and loading.
#pragma once

#include <cstdint>

namespace arduino {

struct TUserData;

constexpr int kSettingsLines = 19;
// Every line passes through a buffer of this many bytes: 1000 characters and
// a terminating zero.  A written line with its CR LF must fit the 1000, so
// its text holds at most 998; a read line's text holds at most 999.
constexpr int kLineBufferSize = 1001;
constexpr int kMaxWrittenLineText = 998;
constexpr int kMaxReadLineText = 999;

// Writes the settings block.  An address too long for a line raises an
// Exception before anything is written.
void WriteSettingsBlock(uint32_t handle, const TUserData& user_data);

// Reads a settings block, storing each field as soon as its line is read.
// An integer line that does not convert raises EConvertError and leaves the
// file right after that line; a line too long for the buffer or a file that
// ends inside the block raises an Exception, which says so where the bytes
// show that the file's line ends were changed.
void ReadSettingsBlock(uint32_t handle, TUserData& user_data);

}  // namespace arduino
