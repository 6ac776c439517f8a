// What `blockhost check` makes of one read of A0: the value, silence, or an
// answer that is no number.  The block reports the last two the only way it
// has, as the conversion error of the reply text, so that text is taken back
// out of the library's message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exit_codes.h"

namespace blockhost {

// Where a serial board that gave no number at `baud_rate` is looked for:
// the dialog's speeds (arduino::kBaudRates) but that one, in the dialog's
// order.
std::vector<int32_t> OtherDialogSpeeds(int32_t baud_rate);

// Whether `value` is a reading the firmware can give for an analog input, a
// whole number 0..1023.  At a speed tried in the search, nothing less counts
// as the board: a wrong speed can leave a digit of garbage standing.
bool IsAnalogReading(double value);

// The reply inside the block's message "'<reply>' ist kein gültiger
// Gleitkommawert" (UTF-8 on Linux, CP-1252 on Windows); nothing for any
// other message.  An empty reply is a board that did not answer.
std::optional<std::string> ReplyOfConversionError(std::string_view message);

// The reply as a C string literal would spell it, quotes included, so that
// control bytes and the bytes of a wrong line speed can be seen.
std::string EscapedReply(std::string_view reply);

}  // namespace blockhost
