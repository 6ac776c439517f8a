// The POSIX side of the test helpers, and the check that this process sees
// no network but loopback.  CMake puts this directory on the include path of
// the Linux builds only.
#pragma once

#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include "scratch_file.h"

namespace arduino::testing {

// The library's messages are UTF-8 on Linux.
constexpr char kUUmlaut[] = "\xc3\xbc";

// Locale names that give a comma as decimal separator, where installed.
constexpr const char* kCommaLocaleNames[] = {"de_DE.UTF-8", "de_DE.utf8"};

inline void SleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

// Waits until a datagram just sent to one of this thread's endpoints over
// loopback is there for a pump pass to find.  Loopback queues it at the
// receiving socket before sendto returns, and the endpoint's watch sees it at
// the pass's poll, so the pause is only a margin, as in the exchange tests.
inline void WaitForSocketReport() { SleepMs(20); }

// What could carry a name look-up made by this process off the machine, or
// nothing when only loopback is there (as in the network namespace that
// ./run test gives the tests).  Tests that look up a name that must not
// resolve skip unless this is empty: the look-up then fails at once with
// nothing sent, whatever the system's resolver would have answered.
inline std::optional<std::string> NetworkBeyondLoopback() {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return "the network interfaces cannot be listed";
  std::optional<std::string> found;
  for (ifaddrs* i = interfaces; i != nullptr && !found; i = i->ifa_next) {
    if ((i->ifa_flags & IFF_LOOPBACK) == 0) found = std::string("the interface ") + i->ifa_name;
  }
  freeifaddrs(interfaces);
  if (found) return found;
  // nscd and systemd-resolved take look-ups over a Unix socket, which
  // reaches the daemon outside the network namespace; it would send the
  // query on from there.
  if (access("/var/run/nscd/socket", F_OK) == 0) return "nscd, which looks names up outside";
  std::ifstream nsswitch("/etc/nsswitch.conf");
  for (std::string line; std::getline(nsswitch, line);) {
    if (line.rfind("hosts:", 0) == 0 && line.find("resolve") != std::string::npos &&
        access("/run/systemd/resolve/io.systemd.Resolve", F_OK) == 0) {
      return "systemd-resolved, which looks names up outside";
    }
  }
  return std::nullopt;
}

using harness::ScratchFile;

}  // namespace arduino::testing
