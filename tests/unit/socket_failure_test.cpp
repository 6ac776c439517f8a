// A block whose UDP socket the system refuses.  The test program defines
// socket() itself, in front of the C library's, so that one chosen call
// fails as it would when the process has run out of descriptors.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "link/exchange.h"
#include "test_support.h"
#include "thrown_message.h"

namespace {

// Counts the calls still to succeed before one fails; 0 lets every call through.
int g_calls_before_failure = 0;

}  // namespace

extern "C" int socket(int domain, int type, int protocol) {
  using SocketFn = int (*)(int, int, int);
  static const auto real = reinterpret_cast<SocketFn>(dlsym(RTLD_NEXT, "socket"));
  if (g_calls_before_failure > 0 && --g_calls_before_failure == 0) {
    errno = EMFILE;
    return -1;
  }
  return real(domain, type, protocol);
}

namespace arduino {
namespace {

using testing::ValueArray;

// The endpoint takes a socket when it is created and a fresh one when it is
// bound to port 1600.  Whichever of the two the system refuses, the block is
// left without an endpoint, and every send says so instead of vanishing.
TEST(SocketFailureTest, BlockWithoutASocketFailsEverySendClearly) {
  const char* const kSocket[] = {"", "the endpoint's first socket", "the socket for port 1600"};
  for (int failing_call : {1, 2}) {
    SCOPED_TRACE(kSocket[failing_call]);
    std::vector<uint8_t> record(testing::kBlockRecordSize, testing::kHostFill);
    g_calls_before_failure = failing_call;
    EXPECT_EQ(testing::ThrownMessage<UDPSockError>([&] { InitUserDLL(record.data()); }),
              "Unknown Error No. 24")
        << "the refused socket was not reported";
    EXPECT_EQ(g_calls_before_failure, 0) << "the refused call never came";
    g_calls_before_failure = 0;

    TUserData& d = UserDataOf(record.data());
    EXPECT_FALSE(d.Udp) << "an endpoint without a socket was kept";
    d.IPAddress = "127.0.0.1";
    ValueArray inputs(ARDUINO_BLOCK_INPUTS), outputs(ARDUINO_BLOCK_OUTPUTS);
    EXPECT_EQ(testing::ThrownMessage<Exception>(
                  [&] { InitSimulationDLL(record.data(), inputs.data(), outputs.data()); }),
              "The block has no UDP endpoint: its socket could not be created")
        << "a send without a socket was not reported";
    DisposeUserDLL(record.data());
  }
}

}  // namespace
}  // namespace arduino
