// Arbitrary datagrams through the real receive path (loopback socket, pump,
// endpoint, block handler): the reply is the datagram's text up to its first
// zero byte and at most 300 bytes, or empty for one over 2048 bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arduino_block.h"
#include "base/application.h"
#include "block/block_record.h"
#include "block/user_data.h"
#include "link/NMUDP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> record = [] {
    std::vector<uint8_t> r(8192, 0);
    InitUserDLL(r.data());
    // A port of the system's choosing, so that the fuzzer does not depend
    // on port 1600 being free.
    arduino::UserDataOf(r.data()).Udp->SetLocalPort(0);
    return r;
  }();
  static int sender = socket(AF_INET, SOCK_DGRAM, 0);
  size = std::min<size_t>(size, 60000);
  arduino::TUserData& block = arduino::UserDataOf(record.data());
  block.ReplyReceived = false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(block.Udp->BoundPort());
  if (sendto(sender, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) return 0;
  for (int i = 0; i < 10000 && !block.ReplyReceived; ++i) {
    arduino::Application().ProcessMessages();
    if (!block.ReplyReceived) usleep(10);
  }
  if (!block.ReplyReceived) std::abort();
  std::string expected;
  if (size <= 2048) {
    const char* text = reinterpret_cast<const char*>(data);
    expected.assign(text, strnlen(text, std::min<size_t>(size, 300)));
  }
  if (block.ReplyText != expected) std::abort();
  return 0;
}
