// The block's own UDP port, on its own so that a tool can name the port the
// replies come back to without taking in the endpoint.
#pragma once

#include <cstdint>

namespace arduino {

// Every block binds its endpoint to this port.  Only the first block
// created gets it: a second bind fails as it does on Windows, and that
// block's endpoint takes whatever port the system gives at its first send.
constexpr int32_t kLocalPort = 1600;

}  // namespace arduino
