// Whether an address the block is given is this machine's own.
#pragma once

#include <string>

namespace blockhost {

// Whether `address` (an IPv4 address or a host name) is one of this
// machine's own, loopback included.  Only a local address can be bound, and
// binding sends nothing, so the answer costs no traffic; a name that does not
// resolve is not this machine.
bool IsAddressOfThisMachine(const std::string& address);

}  // namespace blockhost
