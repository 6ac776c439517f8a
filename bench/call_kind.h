// The kinds of call the bench counts, apart from the rest of the counter so
// that the file defining the counting functions includes no system header.
#pragma once

namespace bench {

enum class Call {
  kSend,
  kSendTo,
  kRecv,
  kRecvFrom,
  kRecvMmsg,
  kPoll,
  kSelect,
  kRead,
  kWrite,
  kCount
};

// Counts one call of the calling thread; the counting functions call it.
void Count(Call call);

}  // namespace bench
