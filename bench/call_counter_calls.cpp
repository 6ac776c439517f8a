// The counting functions themselves: each counts its call and passes it on
// to the C library's function of the same name.  No system header here
// declares them, so the parameter types are spelt by size; only the names
// matter to the linker, and the C library's own take the same registers.
#include <dlfcn.h>

#include "call_kind.h"

namespace {

using bench::Call;

// The C library's own function of that name, looked up once.
template <typename Function>
Function* Next(Function*& cached, const char* name) {
  if (cached == nullptr) cached = reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
  return cached;
}

using Size = unsigned long;

// The project builds with hidden symbols; these must be seen from outside.
#define COUNTED __attribute__((visibility("default")))
using Result = long;

}  // namespace

extern "C" {

COUNTED Result send(int fd, const void* data, Size length, int flags) {
  static decltype(&send) next;
  bench::Count(Call::kSend);
  return Next(next, "send")(fd, data, length, flags);
}

COUNTED Result sendto(int fd, const void* data, Size length, int flags, const void* to,
                      unsigned to_length) {
  static decltype(&sendto) next;
  bench::Count(Call::kSendTo);
  return Next(next, "sendto")(fd, data, length, flags, to, to_length);
}

COUNTED Result recv(int fd, void* data, Size length, int flags) {
  static decltype(&recv) next;
  bench::Count(Call::kRecv);
  return Next(next, "recv")(fd, data, length, flags);
}

COUNTED Result recvfrom(int fd, void* data, Size length, int flags, void* from,
                        unsigned* from_length) {
  static decltype(&recvfrom) next;
  bench::Count(Call::kRecvFrom);
  return Next(next, "recvfrom")(fd, data, length, flags, from, from_length);
}

COUNTED int recvmmsg(int fd, void* messages, unsigned count, int flags, void* timeout) {
  static decltype(&recvmmsg) next;
  bench::Count(Call::kRecvMmsg);
  return Next(next, "recvmmsg")(fd, messages, count, flags, timeout);
}

COUNTED int poll(void* fds, Size count, int timeout) {
  static decltype(&poll) next;
  bench::Count(Call::kPoll);
  return Next(next, "poll")(fds, count, timeout);
}

COUNTED int select(int count, void* read, void* write, void* error, void* timeout) {
  static decltype(&select) next;
  bench::Count(Call::kSelect);
  return Next(next, "select")(count, read, write, error, timeout);
}

COUNTED Result read(int fd, void* data, Size length) {
  static decltype(&read) next;
  bench::Count(Call::kRead);
  return Next(next, "read")(fd, data, length);
}

COUNTED Result write(int fd, const void* data, Size length) {
  static decltype(&write) next;
  bench::Count(Call::kWrite);
  return Next(next, "write")(fd, data, length);
}

}  // extern "C"
