// What the block makes of the text of its address setting.  It sends to an
// IPv4 address written in dots, read as the socket library's inet_addr
// reads it, and looks any other text up as a host name before every command
// it sends; an empty text names this computer.  `set` says so before it
// stores an address that will not do what it seems to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace blockhost {

// The address as inet_addr reads it, most significant byte first: one to
// four parts, each decimal, octal with a leading 0 or hexadecimal with 0x,
// the last part filling the bytes left.  Nothing where inet_addr fails,
// which includes 255.255.255.255, the value it keeps for a failure.
std::optional<uint32_t> ReadDottedAddress(std::string_view text);

// What the block will do with `address` where that is not plainly sending
// to it: nothing for an address in its usual form or a host name.
std::optional<std::string> AddressNote(std::string_view address);

}  // namespace blockhost
